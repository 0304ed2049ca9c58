#include "tracking/wayland_tracking_platform.h"

namespace pilvo::tracking {

WaylandTrackingPlatform::WaylandTrackingPlatform(wayland::WaylandConnection& connection,
                                                 const DesktopEntryIndex& index,
                                                 std::string ownBundleId,
                                                 LaunchContextFactory launchContext,
                                                 LaunchErrorLog logError)
    : DesktopEntryTrackingPlatform(index, std::move(ownBundleId), std::move(launchContext),
                                   std::move(logError)),
      connection_(connection) {}

std::optional<RunningApp> WaylandTrackingPlatform::frontmostApplication() {
  return connection_.toplevels().frontmostApplication();
}

std::vector<RunningApp> WaylandTrackingPlatform::runningApplications() {
  return connection_.toplevels().runningApplications();
}

void WaylandTrackingPlatform::activate(const RunningApp& app) {
  // The application's most recently active toplevel, as listed.
  if (app.window != 0) connection_.activate(app.window);
}

}  // namespace pilvo::tracking
