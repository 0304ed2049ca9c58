// The behaviour behind "com.tavik/settings": launch at login, the menu bar
// item's visibility and the save dialog. Stores nothing; remembering the
// user's choice is the caller's business.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/event_loop.h"
#include "settings/settings_platform.h"

namespace pilvo::settings {

// Shows or hides the menu bar item (MenuBarController.shared's setVisible);
// empty while no menu bar controller exists.
using MenuBarVisibility = std::function<void(bool visible)>;

class SettingsService {
 public:
  using SavePanelDone = std::function<void(std::optional<std::string> path)>;

  SettingsService(SettingsPlatform& platform, EventLoop& loop, MenuBarVisibility menuBar = {});

  // Empty on success, else the system's description of the failure.
  std::string setLaunchAtLogin(bool enabled);
  void setMenuBarVisible(bool visible);

  // Opens the save dialog on the next turn of the main loop and returns;
  // `done` gets the path or nullopt when the dialog closes. One dialog at a
  // time: a request made while one is open opens its dialog after that one
  // closes, so every request gets its own answer.
  void showSavePanel(std::string suggestedName, SavePanelDone done);
  // Told every path a save dialog returns, before the caller's `done`.
  void setSavePathObserver(std::function<void(const std::string& path)> observer) {
    savePathObserver_ = std::move(observer);
  }

 private:
  struct Request {
    std::string name;
    SavePanelDone done;
  };
  void openNext();

  SettingsPlatform& platform_;
  EventLoop& loop_;
  MenuBarVisibility menuBar_;
  std::function<void(const std::string&)> savePathObserver_;
  std::deque<Request> pending_;
  bool panelOpen_ = false;
  // Deferred work holds it weakly: expired once the service is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace pilvo::settings
