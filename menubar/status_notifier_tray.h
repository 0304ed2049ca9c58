// The real tray: a StatusNotifierItem on the session bus (the tray protocol of
// KDE Plasma, GNOME with the AppIndicator extension, XFCE, LXQt, Cinnamon,
// Waybar), registered with "org.kde.StatusNotifierWatcher". Where no watcher
// runs but an XEmbed system tray does (_NET_SYSTEM_TRAY_S0: trayer,
// stalonetray), the item is a legacy XEmbed icon instead. Where neither runs
// yet, the item waits and appears as soon as one of them starts.
//
// ItemIsMenu is false, so a left click arrives as Activate and a right click as
// ContextMenu; both report a click, and the controller opens its menu at the
// pointer. The icon goes out as IconPixmap in several sizes.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "menubar/tray_platform.h"

namespace pilvo::menubar {

inline constexpr const char* kStatusNotifierWatcherName = "org.kde.StatusNotifierWatcher";
inline constexpr const char* kStatusNotifierItemPath = "/StatusNotifierItem";

class StatusNotifierTray final : public TrayPlatform {
 public:
  // `say` receives the line written once when the desktop has no tray at all.
  // Needs GTK initialised; works on the main loop.
  explicit StatusNotifierTray(std::function<void(std::string_view)> say);
  ~StatusNotifierTray() override;
  StatusNotifierTray(const StatusNotifierTray&) = delete;
  StatusNotifierTray& operator=(const StatusNotifierTray&) = delete;

  std::unique_ptr<TrayItem> createItem(std::function<void()> clicked) override;

  // What tests and benchmarks look at.
  // The bus name of the live item's StatusNotifierItem ("" without one).
  std::string itemBusName() const;
  // Whether the live item shows as an XEmbed icon that a tray has embedded.
  bool legacyIconEmbedded() const;
  // Where that icon is on the screen: x, y, width, height.
  std::optional<std::array<int, 4>> legacyIconGeometry() const;
  // The rows of the menu open now ("-" for a separator), empty when none is;
  // and whether its window is mapped on the screen.
  std::vector<std::string> openMenuRows() const;
  bool openMenuMapped() const;

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace pilvo::menubar
