// Launching an installed application from its desktop entry (GIO), shared by
// the tracking platforms of X11 and Wayland sessions.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/running_app.h"
#include "identity/desktop_entry_index.h"

typedef struct _GAppLaunchContext GAppLaunchContext;

namespace pilvo::tracking {

// Makes the launch context for a start (a new reference; nullptr for none).
using LaunchContextFactory = std::function<GAppLaunchContext*()>;
using LaunchErrorLog = std::function<void(std::string_view text)>;

// Starts the application whose desktop-file ID is `bundleId`; false when no
// installed application has that identifier or it cannot be started (then
// `logError` hears why).
bool launchInstalledApplication(const DesktopEntryIndex& index, const std::string& bundleId,
                                const LaunchContextFactory& launchContext,
                                const LaunchErrorLog& logError);

// This program as a running application: `ownBundleId`, the localized name
// of its entry (else GLib's application name), this process and regular
// policy, no window.
RunningApp ownRunningApplication(const DesktopEntryIndex& index, const std::string& ownBundleId);

// g_get_user_data_dir() without a trailing separator.
std::string userDataDirectory();

}  // namespace pilvo::tracking
