// The agent's desktop platform in a Wayland session on a compositor that
// offers the wlroots foreign-toplevel protocol (sway, Hyprland, river, labwc,
// Wayfire), opened in one step:
//
//   std::string error;
//   auto platform = pilvo::wayland::WaylandPlatform::open(loop, &error);
//   if (!platform) { ...fall back to X11...; }
//
// When the compositor goes away the lost handler runs once, from the loop.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent/agent_platform.h"
#include "identity/desktop_entry_index.h"
#include "identity/desktop_entry_watcher.h"
#include "wayland/wayland_accessibility.h"
#include "wayland/wayland_connection.h"
#include "wayland/wayland_input_idleness.h"
#include "wayland/wayland_workspace.h"

namespace pilvo::wayland {

class WaylandPlatform {
 public:
  // Connects to `displayName` (empty: $WAYLAND_DISPLAY) and reads the
  // installed desktop entries, again whenever they change. nullptr with
  // `error` set when there is no compositor or it lacks the foreign-toplevel
  // protocol. `idleTimeoutSeconds` is how long without input the compositor
  // waits before it says so (see WaylandInputIdleness).
  static std::unique_ptr<WaylandPlatform> open(
      EventLoop& loop, std::string* error, const std::string& displayName = "",
      double idleTimeoutSeconds = WaylandInputIdleness::kDefaultTimeoutSeconds);
  ~WaylandPlatform();

  Workspace& workspace() { return *workspace_; }
  InputIdleness& idleness() { return *idleness_; }
  Accessibility& accessibility() { return *accessibility_; }
  WaylandConnection& connection() { return *connection_; }

  void setConnectionLostHandler(std::function<void()> handler);

  // The idle protocol in use, for the start-up log ("ext_idle_notifier_v1",
  // "org_kde_kwin_idle" or "none").
  std::string idleProtocolName() const { return connection_->idleProtocolName(); }
  // Things that work less well than they should, for the log.
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  WaylandPlatform() = default;

  std::unique_ptr<DesktopEntryIndex> index_;
  std::unique_ptr<DesktopEntryWatcher> entryWatcher_;
  std::unique_ptr<WaylandConnection> connection_;
  std::unique_ptr<WaylandWorkspace> workspace_;
  std::unique_ptr<WaylandInputIdleness> idleness_;
  std::unique_ptr<WaylandAccessibility> accessibility_;
  std::vector<std::string> warnings_;
};

}  // namespace pilvo::wayland
