// The tracking platform of an X11 session: applications as the shared desktop
// model sees them (_NET_CLIENT_LIST order, _NET_ACTIVE_WINDOW owner), bringing
// one forward through the window manager and launching installed ones from
// their desktop entry.
#pragma once

#include <string>

#include "identity/desktop_entry_index.h"
#include "tracking/desktop_launcher.h"
#include "x11/x11_desktop.h"

namespace pilvo::tracking {

class X11TrackingPlatform final : public DesktopEntryTrackingPlatform {
 public:
  // `desktop` and `index` must outlive the platform.
  X11TrackingPlatform(x11::X11Desktop& desktop, const DesktopEntryIndex& index,
                      std::string ownBundleId, LaunchContextFactory launchContext = {},
                      LaunchErrorLog logError = {});

  std::optional<RunningApp> frontmostApplication() override;
  std::vector<RunningApp> runningApplications() override;
  void activate(const RunningApp& app) override;

 private:
  x11::X11Desktop& desktop_;
};

}  // namespace pilvo::tracking
