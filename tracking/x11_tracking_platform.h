// The tracking platform of an X11 session: applications as the shared desktop
// model sees them (_NET_CLIENT_LIST order, _NET_ACTIVE_WINDOW owner), bringing
// one forward through the window manager and launching installed ones from
// their desktop entry.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "identity/desktop_entry_index.h"
#include "tracking/desktop_launcher.h"
#include "tracking/tracking_platform.h"
#include "x11/x11_desktop.h"

namespace pilvo::tracking {

class X11TrackingPlatform final : public TrackingPlatform {
 public:
  // Makes the launch context for a start (a new reference; nullptr for none).
  // The host passes the display's context so the started application gets a
  // startup-notification id and with it the focus.
  using LaunchContextFactory = tracking::LaunchContextFactory;
  using ErrorLog = LaunchErrorLog;

  // `desktop` and `index` must outlive the platform.
  X11TrackingPlatform(x11::X11Desktop& desktop, const DesktopEntryIndex& index,
                      std::string ownBundleId, LaunchContextFactory launchContext = {},
                      ErrorLog logError = {});

  std::optional<RunningApp> frontmostApplication() override;
  std::vector<RunningApp> runningApplications() override;
  std::optional<std::string> ownBundleIdentifier() override { return ownBundleId_; }
  // Named by its installed desktop entry, else by the application name GLib knows.
  RunningApp ownApplication() override;
  std::string applicationSupportPath() override;
  void activate(const RunningApp& app) override;
  bool launch(const std::string& bundleId) override;

 private:
  x11::X11Desktop& desktop_;
  const DesktopEntryIndex& index_;
  std::string ownBundleId_;
  LaunchContextFactory launchContext_;
  ErrorLog logError_;
};

}  // namespace pilvo::tracking
