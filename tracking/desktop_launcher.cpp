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

DesktopEntryTrackingPlatform::DesktopEntryTrackingPlatform(const DesktopEntryIndex& index,
                                                           std::string ownBundleId,
                                                           LaunchContextFactory launchContext,
                                                           LaunchErrorLog logError)
    : index_(index),
      ownBundleId_(std::move(ownBundleId)),
      launchContext_(std::move(launchContext)),
      logError_(std::move(logError)) {}

std::string DesktopEntryTrackingPlatform::applicationSupportPath() { return userDataDirectory(); }

bool DesktopEntryTrackingPlatform::launch(const std::string& bundleId) {
  if (bundleId.empty()) return false;
  GDesktopAppInfo* info = index_.newAppInfo(bundleId);
  if (!info) {
    // Installed after start-up: GIO looks the ID up afresh.
    const std::string desktopId = bundleId + ".desktop";
    info = g_desktop_app_info_new(desktopId.c_str());
  }
  if (!info) return false;
  GAppLaunchContext* context = launchContext_ ? launchContext_() : nullptr;
  GError* error = nullptr;
  const bool started = g_app_info_launch(G_APP_INFO(info), nullptr, context, &error);
  if (!started && logError_) {
    logError_("could not start " + bundleId + ": " + (error ? error->message : "unknown error"));
  }
  g_clear_error(&error);
  if (context) g_object_unref(context);
  g_object_unref(info);
  return started;
}

RunningApp DesktopEntryTrackingPlatform::ownApplication() {
  RunningApp own;
  if (!ownBundleId_.empty()) own.bundleId = ownBundleId_;
  const DesktopEntry* entry = index_.findById(ownBundleId_);
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
