// What the updater needs from the desktop: fetching the feed, showing the
// outcome of a check to the user, and quitting. Value types only; the real
// implementation is SoupUpdatePlatform (libsoup 3, GNotification), tests use
// testing/fake_update_platform.h.
#pragma once

#include <functional>
#include <string>

namespace pilvo::settings {

struct FeedResponse {
  std::string body;   // the feed's bytes when error is empty
  std::string error;  // why the feed could not be fetched; empty on success
};

class UpdatePlatform {
 public:
  virtual ~UpdatePlatform() = default;

  // Fetches `url` in the background; `done` runs once on the main loop. The
  // fetch is bounded in size, time and redirects, and refuses addresses that
  // are neither HTTPS nor on this machine.
  virtual void fetchFeed(const std::string& url, std::function<void(FeedResponse)> done) = 0;

  // The standard user interface: a notification "Pilvo VERSION is available"
  // whose action opens `pageUrl` (none when empty).
  virtual void showUpdateAvailable(const std::string& version, const std::string& pageUrl) = 0;
  // The outcome of a check the user asked for, when there is no update.
  virtual void showUpToDate(const std::string& currentVersion) = 0;
  virtual void showCheckFailed(const std::string& reason) = 0;

  // Asks the application to quit through its normal path.
  virtual void requestQuit() = 0;
};

}  // namespace pilvo::settings
