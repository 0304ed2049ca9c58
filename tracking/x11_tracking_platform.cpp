#include "tracking/x11_tracking_platform.h"

namespace pilvo::tracking {

X11TrackingPlatform::X11TrackingPlatform(x11::X11Desktop& desktop, const DesktopEntryIndex& index,
                                         std::string ownBundleId,
                                         LaunchContextFactory launchContext,
                                         LaunchErrorLog logError)
    : DesktopEntryTrackingPlatform(index, std::move(ownBundleId), std::move(launchContext),
                                   std::move(logError)),
      desktop_(desktop) {}

std::optional<RunningApp> X11TrackingPlatform::frontmostApplication() {
  return desktop_.frontmostApplication();
}

std::vector<RunningApp> X11TrackingPlatform::runningApplications() {
  return desktop_.runningApplications();
}

void X11TrackingPlatform::activate(const RunningApp& app) { desktop_.activate(app); }

}  // namespace pilvo::tracking
