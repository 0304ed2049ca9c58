// The desktop's side of the updater: the feed fetched with libsoup 3 on the
// main loop (never blocking it), the outcome shown as a desktop notification
// (GNotification), quitting through the application's normal path.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "settings/update_platform.h"

typedef struct _GApplication GApplication;
typedef struct _SoupSession SoupSession;

namespace pilvo::settings {

struct FetchLimits {
  size_t maxBytes = size_t{1024} * 1024;
  unsigned timeoutSeconds = 30;  // the whole fetch, redirects included
  int maxRedirects = 5;
};

// Whether a feed or redirect target may be fetched: HTTPS anywhere, plain
// HTTP only on this machine (localhost, 127.0.0.0/8, ::1).
bool isAllowedFeedUrl(const std::string& url);

class SoupUpdatePlatform final : public UpdatePlatform {
 public:
  // `application` (may be null: nothing is shown) sends the notifications and
  // gets the action "app.open-update-page"; `quit` ends the application.
  SoupUpdatePlatform(GApplication* application, std::function<void()> quit, std::string userAgent,
                     FetchLimits limits = {});
  ~SoupUpdatePlatform() override;
  SoupUpdatePlatform(const SoupUpdatePlatform&) = delete;
  SoupUpdatePlatform& operator=(const SoupUpdatePlatform&) = delete;

  void fetchFeed(const std::string& url, std::function<void(FeedResponse)> done) override;
  void showUpdateAvailable(const std::string& version, const std::string& pageUrl) override;
  void showUpToDate(const std::string& currentVersion) override;
  void showCheckFailed(const std::string& reason) override;
  void requestQuit() override;

  // Id of the one notification the updater keeps up to date.
  static constexpr const char* kNotificationId = "pilvo-update";

 private:
  void notify(const std::string& title, const std::string& body, const std::string& pageUrl);

  GApplication* application_;
  std::function<void()> quit_;
  FetchLimits limits_;
  SoupSession* session_;
};

}  // namespace pilvo::settings
