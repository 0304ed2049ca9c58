#include "settings/update_service.h"

#include "settings/appcast.h"

namespace pilvo::settings {

UpdateService::UpdateService(UpdatePlatform& platform, EventLoop& loop, UpdaterSettings settings,
                             Log log)
    : platform_(platform), loop_(loop), settings_(std::move(settings)), log_(std::move(log)) {}

void UpdateService::start() {
  if (settings_.feedUrl.empty()) return;  // nothing could ever be found
  firstCheck_ = loop_.addTimer(settings_.firstCheckSeconds, false, [this] {
    check(false);
    dailyCheck_ = loop_.addTimer(settings_.intervalSeconds, true, [this] { check(false); });
  });
}

void UpdateService::checkForUpdates() {
  if (settings_.feedUrl.empty()) {
    platform_.showCheckFailed(
        "this installation has no update feed; its package manager updates it");
    return;
  }
  check(true);
}

void UpdateService::check(bool userInitiated) {
  userWaiting_ = userWaiting_ || userInitiated;
  if (checking_) return;  // the check in flight answers this one too
  checking_ = true;
  platform_.fetchFeed(settings_.feedUrl,
                      [this, alive = std::weak_ptr<bool>(alive_)](FeedResponse response) {
                        if (alive.lock()) finish(std::move(response));
                      });
}

void UpdateService::finish(FeedResponse response) {
  const bool userWaiting = userWaiting_;
  checking_ = false;
  userWaiting_ = false;
  auto fail = [&](const std::string& reason) {
    if (log_) log_(true, "update check failed: " + reason);
    if (userWaiting) platform_.showCheckFailed(reason);
  };
  if (!response.error.empty()) return fail(response.error);
  std::string error;
  const auto items = parseAppcast(response.body, &error);
  if (!items) return fail(error);

  const std::optional<AppcastItem> update = newestUpdate(*items, settings_.currentVersion);
  if (!update) {
    if (log_) log_(false, "no update: " + settings_.currentVersion + " is the newest version");
    if (userWaiting) platform_.showUpToDate(settings_.currentVersion);
    return;
  }
  const std::string& version = update->displayVersionString();
  if (log_) log_(false, "update available: " + version);
  // A background check reminds of the same update once per run; the user's
  // own check always shows it.
  if (!userWaiting && version == lastShown_) return;
  lastShown_ = version;
  platform_.showUpdateAvailable(version, update->pageUrl());
  if (updateShown_) updateShown_(version);
}

}  // namespace pilvo::settings
