// The tracking platform of a Wayland session on a wlroots compositor:
// applications from the compositor's toplevel list (order of first
// appearance, the activated toplevel's application in front), bringing one
// forward through the toplevel's `activate` request on our seat, and
// launching installed ones from their desktop entry.
#pragma once

#include <string>

#include "identity/desktop_entry_index.h"
#include "tracking/desktop_launcher.h"
#include "wayland/wayland_connection.h"

namespace pilvo::tracking {

class WaylandTrackingPlatform final : public DesktopEntryTrackingPlatform {
 public:
  // `connection` and `index` must outlive the platform.
  WaylandTrackingPlatform(wayland::WaylandConnection& connection, const DesktopEntryIndex& index,
                          std::string ownBundleId, LaunchContextFactory launchContext = {},
                          LaunchErrorLog logError = {});

  std::optional<RunningApp> frontmostApplication() override;
  std::vector<RunningApp> runningApplications() override;
  void activate(const RunningApp& app) override;

 private:
  wayland::WaylandConnection& connection_;
};

}  // namespace pilvo::tracking
