// The updater: checks the feed a minute after start and then every 24 hours,
// and on the user's request; shows what it found; remembers that an update was
// shown (updateReady, never reset while the process runs).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/event_loop.h"
#include "settings/update_platform.h"

namespace pilvo::settings {

struct UpdaterSettings {
  std::string feedUrl;         // empty: no feed, nothing is ever checked or found
  std::string currentVersion;  // this build's version
  double firstCheckSeconds = 60;
  double intervalSeconds = 24 * 60 * 60;
};

class UpdateService {
 public:
  // `log(isError, line)` receives what the checks did.
  using Log = std::function<void(bool isError, std::string_view line)>;
  // Runs each time an update is about to be shown, with its display version.
  using UpdateShown = std::function<void(const std::string& version)>;

  UpdateService(UpdatePlatform& platform, EventLoop& loop, UpdaterSettings settings, Log log = {});
  UpdateService(const UpdateService&) = delete;
  UpdateService& operator=(const UpdateService&) = delete;

  void setUpdateShownHandler(UpdateShown handler) { updateShown_ = std::move(handler); }

  // Starts the schedule of background checks.
  void start();
  // A check on the user's behalf: returns at once; its outcome (newer, up to
  // date, failed) is shown to the user.
  void checkForUpdates();
  bool updateReady() const { return !lastShown_.empty(); }
  const std::string& currentVersion() const { return settings_.currentVersion; }
  void restartAndUpdate() { platform_.requestQuit(); }

 private:
  void check(bool userInitiated);
  void finish(FeedResponse response);

  UpdatePlatform& platform_;
  EventLoop& loop_;
  UpdaterSettings settings_;
  Log log_;
  UpdateShown updateShown_;
  std::unique_ptr<EventSource> firstCheck_;
  std::unique_ptr<EventSource> dailyCheck_;
  bool checking_ = false;
  bool userWaiting_ = false;  // the check in flight answers a request of the user
  // The version of the last update shown (never empty: items have a version).
  std::string lastShown_;
  // Deferred work holds it weakly: expired once the service is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace pilvo::settings
