#include "tracking/wayland_tracking_platform.h"

namespace pilvo::tracking {

WaylandTrackingPlatform::WaylandTrackingPlatform(wayland::WaylandConnection& connection,
                                                 const DesktopEntryIndex& index,
                                                 std::string ownBundleId,
                                                 LaunchContextFactory launchContext,
                                                 LaunchErrorLog logError)
    : connection_(connection),
      index_(index),
      ownBundleId_(std::move(ownBundleId)),
      launchContext_(std::move(launchContext)),
      logError_(std::move(logError)) {}

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

bool WaylandTrackingPlatform::launch(const std::string& bundleId) {
  return launchInstalledApplication(index_, bundleId, launchContext_, logError_);
}

}  // namespace pilvo::tracking
