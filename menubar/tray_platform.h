// What the menu bar controller needs from the desktop's tray: an item that
// shows the paw print with a tint and a dimmed look, and a menu opened at it.
// Value types only; the real tray lives in status_notifier_tray.h (a
// StatusNotifierItem, or an XEmbed icon where only such a tray exists), tests
// use testing/fake_tray_platform.h.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "menubar/menu_model.h"

namespace pilvo::menubar {

enum class TrayTint { kGreen, kOrange, kRed };

// Green from 70, orange from 40, red below (0 and negative scores too).
constexpr TrayTint tintForScore(int64_t score) {
  if (score >= 70) return TrayTint::kGreen;
  if (score >= 40) return TrayTint::kOrange;
  return TrayTint::kRed;
}

// One item in the tray. It shows from creation on, untinted and undimmed;
// destroying it removes it from the tray.
class TrayItem {
 public:
  virtual ~TrayItem() = default;
  virtual void setTint(TrayTint tint) = 0;
  // Drawn dimmed; clicks still arrive.
  virtual void setDimmed(bool dimmed) = 0;
  virtual void setTooltip(const std::string& text) = 0;
  // Opens `rows` as a menu at the item (at the pointer); `chosen` receives the
  // action of the row the user picks, if any, on the main loop.
  virtual void popUpMenu(const std::vector<MenuRow>& rows,
                         std::function<void(MenuAction)> chosen) = 0;
};

class TrayPlatform {
 public:
  virtual ~TrayPlatform() = default;
  // A new item; `clicked` runs on the main loop for a left or right click on it.
  virtual std::unique_ptr<TrayItem> createItem(std::function<void()> clicked) = 0;
};

}  // namespace pilvo::menubar
