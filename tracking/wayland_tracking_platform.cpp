#include "tracking/wayland_tracking_platform.h"

#include <algorithm>

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
  std::vector<RunningApp> apps = connection_.toplevels().runningApplications();
  if (!ownBundleId_.empty() && std::none_of(apps.begin(), apps.end(), [&](const RunningApp& app) {
        return app.bundleId == ownBundleId_;
      })) {
    RunningApp own{.bundleId = ownBundleId_};
    if (const DesktopEntry* entry = index_.findById(ownBundleId_)) own.localizedName = entry->name;
    apps.push_back(std::move(own));
  }
  return apps;
}

void WaylandTrackingPlatform::activate(const RunningApp& app) {
  // The application's most recently active toplevel, as listed.
  if (app.window != 0) connection_.activate(app.window);
}

bool WaylandTrackingPlatform::launch(const std::string& bundleId) {
  return launchInstalledApplication(index_, bundleId, launchContext_, logError_);
}

}  // namespace pilvo::tracking
