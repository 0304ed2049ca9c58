#include "settings/settings_service.h"

namespace pilvo::settings {

SettingsService::SettingsService(SettingsPlatform& platform, EventLoop& loop,
                                 MenuBarVisibility menuBar)
    : platform_(platform), loop_(loop), menuBar_(std::move(menuBar)) {}

std::string SettingsService::setLaunchAtLogin(bool enabled) {
  return platform_.setLaunchAtLogin(enabled);
}

void SettingsService::setMenuBarVisible(bool visible) {
  if (menuBar_) menuBar_(visible);
}

void SettingsService::showSavePanel(std::string suggestedName, SavePanelDone done) {
  pending_.push_back({std::move(suggestedName), std::move(done)});
  loop_.post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.lock()) openNext();
  });
}

void SettingsService::openNext() {
  if (panelOpen_ || pending_.empty()) return;
  panelOpen_ = true;
  Request request = std::move(pending_.front());
  pending_.pop_front();
  platform_.runSavePanel(request.name,
                         [this, alive = std::weak_ptr<bool>(alive_),
                          done = std::move(request.done)](std::optional<std::string> path) {
                           if (path && alive.lock() && savePathObserver_) savePathObserver_(*path);
                           done(std::move(path));
                           if (!alive.lock()) return;
                           panelOpen_ = false;
                           openNext();
                         });
}

}  // namespace pilvo::settings
