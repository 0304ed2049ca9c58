#include "tracking/desktop_launcher.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <unistd.h>

namespace pilvo::tracking {

std::string userDataDirectory() {
  std::string path = g_get_user_data_dir();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool launchInstalledApplication(const DesktopEntryIndex& index, const std::string& bundleId,
                                const LaunchContextFactory& launchContext,
                                const LaunchErrorLog& logError) {
  if (bundleId.empty()) return false;
  GDesktopAppInfo* info = index.newAppInfo(bundleId);
  if (!info) {
    // Installed after start-up: GIO looks the ID up afresh.
    const std::string desktopId = bundleId + ".desktop";
    info = g_desktop_app_info_new(desktopId.c_str());
  }
  if (!info) return false;
  GAppLaunchContext* context = launchContext ? launchContext() : nullptr;
  GError* error = nullptr;
  const bool started = g_app_info_launch(G_APP_INFO(info), nullptr, context, &error);
  if (!started && logError) {
    logError("could not start " + bundleId + ": " + (error ? error->message : "unknown error"));
  }
  g_clear_error(&error);
  if (context) g_object_unref(context);
  g_object_unref(info);
  return started;
}

RunningApp ownRunningApplication(const DesktopEntryIndex& index, const std::string& ownBundleId) {
  RunningApp own;
  if (!ownBundleId.empty()) own.bundleId = ownBundleId;
  const DesktopEntry* entry = index.findById(ownBundleId);
  if (entry && !entry->name.empty()) {
    own.localizedName = entry->name;
  } else if (const char* name = g_get_application_name()) {
    own.localizedName = name;
  }
  own.pid = static_cast<int32_t>(getpid());
  own.activationPolicy = ActivationPolicy::kRegular;
  return own;
}

}  // namespace pilvo::tracking
