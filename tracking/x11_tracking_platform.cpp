#include "tracking/x11_tracking_platform.h"

#include <glib.h>

namespace pilvo::tracking {

X11TrackingPlatform::X11TrackingPlatform(x11::X11Desktop& desktop, const DesktopEntryIndex& index,
                                         std::string ownBundleId,
                                         LaunchContextFactory launchContext, ErrorLog logError)
    : desktop_(desktop),
      index_(index),
      ownBundleId_(std::move(ownBundleId)),
      launchContext_(std::move(launchContext)),
      logError_(std::move(logError)) {}

std::optional<RunningApp> X11TrackingPlatform::frontmostApplication() {
  return desktop_.frontmostApplication();
}

std::vector<RunningApp> X11TrackingPlatform::runningApplications() {
  return desktop_.runningApplications();
}

RunningApp X11TrackingPlatform::ownApplication() {
  return ownRunningApplication(index_, ownBundleId_);
}

std::string X11TrackingPlatform::applicationSupportPath() { return userDataDirectory(); }

void X11TrackingPlatform::activate(const RunningApp& app) { desktop_.activate(app); }

bool X11TrackingPlatform::launch(const std::string& bundleId) {
  return launchInstalledApplication(index_, bundleId, launchContext_, logError_);
}

}  // namespace pilvo::tracking
