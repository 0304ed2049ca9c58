// What the tracking platforms of X11 and Wayland sessions share: this program
// as a running application, its data directory, and launching installed
// applications from their desktop entry (GIO).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/running_app.h"
#include "identity/desktop_entry_index.h"
#include "tracking/tracking_platform.h"

typedef struct _GAppLaunchContext GAppLaunchContext;

namespace pilvo::tracking {

// Makes the launch context for a start (a new reference; nullptr for none).
// The host passes the display's context so the started application gets a
// startup-notification id and with it the focus.
using LaunchContextFactory = std::function<GAppLaunchContext*()>;
using LaunchErrorLog = std::function<void(std::string_view text)>;

// A tracking platform whose applications are named by the installed desktop
// entries; a session's platform adds the frontmost and running applications
// and bringing one forward.
class DesktopEntryTrackingPlatform : public TrackingPlatform {
 public:
  // `ownBundleId`, the localized name of its entry (else GLib's application
  // name), this process and regular policy, no window.
  RunningApp ownApplication() override;
  // g_get_user_data_dir() without a trailing separator.
  std::string applicationSupportPath() override;
  // Starts the application whose desktop-file ID is `bundleId`; false when no
  // installed application has that identifier or it cannot be started (then
  // the error log hears why).
  bool launch(const std::string& bundleId) override;

 protected:
  // `index` must outlive the platform.
  DesktopEntryTrackingPlatform(const DesktopEntryIndex& index, std::string ownBundleId,
                               LaunchContextFactory launchContext, LaunchErrorLog logError);

 private:
  const DesktopEntryIndex& index_;
  std::string ownBundleId_;
  LaunchContextFactory launchContext_;
  LaunchErrorLog logError_;
};

// g_get_user_data_dir() without a trailing separator.
std::string userDataDirectory();

}  // namespace pilvo::tracking
