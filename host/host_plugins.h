// The host's own plugins and the channels the main window owns, attached in
// start-up order.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "agent/agent_platform.h"
#include "channels/flutter_engine.h"
#include "common/event_loop.h"
#include "host/host_log.h"
#include "menubar/menu_bar_controller.h"
#include "overlay/overlay_platform.h"
#include "settings/settings_platform.h"
#include "settings/update_platform.h"
#include "tracking/app_index_service.h"
#include "tracking/tracking_platform.h"

namespace pilvo::host {

// The one registrar shared by all of the host's own plugins.
inline constexpr const char* kHostPluginsRegistrarKey = "TavikPlugins";
inline constexpr const char* kSidebarChannelName = "com.tavik/sidebar";

// What the host's plugins are built on. Everything must outlive the engine.
struct HostServices {
  EventLoop* loop = nullptr;
  tracking::TrackingPlatform* trackingPlatform = nullptr;
  Accessibility* accessibility = nullptr;
  HostLogSink log;
  // Without one, "indexAllApps" answers an empty list.
  tracking::AppIndexPlatform* appIndexPlatform = nullptr;
  // Runs work off the main loop (the application index, the activity store);
  // unset: a thread per job.
  std::function<std::unique_ptr<BackgroundRunner>()> makeRunner;
  // Without one the overlay channel is not registered.
  overlay::OverlayPlatform* overlayPlatform = nullptr;
  // Settings: launch at login and the save dialog; without it the settings
  // channel is not registered.
  settings::SettingsPlatform* settingsPlatform = nullptr;
  // Updates: fetching the feed and showing what was found; without it the
  // updater channel is not registered.
  settings::UpdatePlatform* updatePlatform = nullptr;
  // The tray the menu bar item shows in; none: the menu bar channels work
  // without an item.
  menubar::TrayPlatform* trayPlatform = nullptr;
  // "Open Pilvo" and "Quit Pilvo" of the menu bar.
  menubar::AppCommands appCommands;
  // The agent's event store the activity channel reads, and the interface's
  // preferences file; empty: their places in the user's directories.
  std::string activityStorePath;
  std::string interfacePreferencesPath;
};

// Attaches the host's own plugins through `registrar`, in this order:
// tracking, overlay, menu bar, settings, updater, activity, interface.
void registerHostPlugins(channels::FlutterPluginRegistrar& registrar, const HostServices& services);

// The channel part of the main window's start-up: the standard plugins in
// their order, the shared "TavikPlugins" registrar with the host's plugins,
// then the sidebar channel, which is returned.
std::shared_ptr<channels::FlutterMethodChannel> registerChannels(channels::FlutterEngine& engine,
                                                                 const HostServices& services);

}  // namespace pilvo::host
