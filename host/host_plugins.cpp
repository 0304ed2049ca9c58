#include "host/host_plugins.h"

#include "host/generated_plugin_registrant.h"
#include "interface/interface_channels.h"
#include "overlay/focus_overlay_plugin.h"
#include "settings/build_info.h"
#include "settings/settings_bridge_plugin.h"
#include "settings/sparkle_updater_plugin.h"
#include "tracking/focus_tracking_plugin.h"

namespace pilvo::host {

void registerHostPlugins(channels::FlutterPluginRegistrar& registrar,
                         const HostServices& services) {
  // The interface may write only where a save dialog of this session pointed.
  auto interfaceFiles = std::make_shared<interface::InterfaceFiles>(
      services.interfacePreferencesPath.empty()
          ? interface::InterfaceFiles::defaultPreferencesPath()
          : services.interfacePreferencesPath);
  // 1. Tracking, with the installed-application index.
  tracking::AppIndexer indexer;
  if (services.appIndexPlatform) {
    indexer = tracking::makeAppIndexer(std::make_shared<tracking::AppIndexService>(
        *services.appIndexPlatform, *services.loop,
        [log = services.log](std::string_view line) {
          if (log) log(HostLogLevel::kInfo, line);
        },
        services.makeRunner ? services.makeRunner() : nullptr));
  }
  tracking::FocusTrackingPlugin::registerWith(
      registrar,
      std::make_shared<tracking::FocusTrackingService>(*services.trackingPlatform,
                                                       *services.accessibility, *services.loop),
      std::move(indexer));
  // 2. Overlay.
  if (services.overlayPlatform) {
    overlay::FocusOverlayPlugin::registerWith(registrar, *services.overlayPlatform, services.log);
  }
  // 3. Menu bar.
  menubar::MenuBarController::registerWith(registrar, services.trayPlatform, services.appCommands);
  // 4. Settings.
  if (services.settingsPlatform) {
    // Shows or hides the menu bar item through MenuBarController.shared, if a
    // controller is registered at the time of the call.
    settings::MenuBarVisibility menuBarVisibility = [](bool visible) {
      if (auto controller = menubar::MenuBarController::shared()) controller->setVisible(visible);
    };
    auto settingsService = std::make_shared<settings::SettingsService>(
        *services.settingsPlatform, *services.loop, std::move(menuBarVisibility));
    settingsService->setSavePathObserver(
        [files = std::weak_ptr(interfaceFiles)](const std::string& path) {
          if (auto f = files.lock()) f->allowPath(path);
        });
    settings::SettingsBridgePlugin::registerWith(registrar, std::move(settingsService));
  }
  // 5. Updater.
  if (services.updatePlatform) {
    auto updater = std::make_shared<settings::UpdateService>(
        *services.updatePlatform, *services.loop,
        settings::UpdaterSettings{settings::kUpdateFeedUrl, settings::kPilvoVersion},
        [log = services.log](bool isError, std::string_view line) {
          if (!log) return;
          if (isError) {
            log(HostLogLevel::kError, "Tavik: ERROR - " + std::string(line));
          } else {
            log(HostLogLevel::kInfo, "Tavik: " + std::string(line));
          }
        });
    settings::SparkleUpdaterPlugin::registerWith(registrar, std::move(updater));
  }
  // 6. Activity: the agent's store, read-only but for the synced column.
  interface::ActivityPlugin::registerWith(
      registrar,
      std::make_shared<interface::ActivityStore>(services.activityStorePath.empty()
                                                     ? interface::ActivityStore::defaultPath()
                                                     : services.activityStorePath),
      *services.loop, services.makeRunner ? services.makeRunner() : nullptr);
  // 7. Interface: its preferences and the files it exports.
  interface::InterfacePlugin::registerWith(registrar, std::move(interfaceFiles));
  // Each of these registers here, in this order, once it exists.
}

std::shared_ptr<channels::FlutterMethodChannel> registerChannels(channels::FlutterEngine& engine,
                                                                 const HostServices& services) {
  RegisterGeneratedPlugins(engine);
  registerHostPlugins(engine.registrarForPlugin(kHostPluginsRegistrarKey), services);
  return channels::FlutterMethodChannel::methodChannelWithName(
      kSidebarChannelName, engine.binaryMessenger(), engine.log());
}

}  // namespace pilvo::host
