// The tracking platform of a Wayland session on a wlroots compositor:
// applications from the compositor's toplevel list (order of first
// appearance, the activated toplevel's application in front), bringing one
// forward through the toplevel's `activate` request on our seat, and
// launching installed ones from their desktop entry.
#pragma once

#include <string>

#include "identity/desktop_entry_index.h"
#include "tracking/desktop_launcher.h"
#include "tracking/tracking_platform.h"
#include "wayland/wayland_connection.h"

namespace pilvo::tracking {

class WaylandTrackingPlatform final : public TrackingPlatform {
 public:
  // `connection` and `index` must outlive the platform.
  WaylandTrackingPlatform(wayland::WaylandConnection& connection, const DesktopEntryIndex& index,
                          std::string ownBundleId, LaunchContextFactory launchContext = {},
                          LaunchErrorLog logError = {});

  std::optional<RunningApp> frontmostApplication() override;
  std::vector<RunningApp> runningApplications() override;
  RunningApp ownApplication() override { return ownRunningApplication(index_, ownBundleId_); }
  std::optional<std::string> ownBundleIdentifier() override { return ownBundleId_; }
  std::string applicationSupportPath() override { return userDataDirectory(); }
  void activate(const RunningApp& app) override;
  bool launch(const std::string& bundleId) override;

 private:
  wayland::WaylandConnection& connection_;
  const DesktopEntryIndex& index_;
  std::string ownBundleId_;
  LaunchContextFactory launchContext_;
  LaunchErrorLog logError_;
};

}  // namespace pilvo::tracking
