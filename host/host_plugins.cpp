#include "host/host_plugins.h"

#include "host/generated_plugin_registrant.h"
#include "tracking/focus_tracking_plugin.h"

namespace pilvo::host {

void registerHostPlugins(channels::FlutterPluginRegistrar& registrar,
                         const HostServices& services) {
  // 1. Tracking.
  tracking::FocusTrackingPlugin::registerWith(
      registrar, std::make_shared<tracking::FocusTrackingService>(
                     *services.trackingPlatform, *services.accessibility, *services.loop));
  // 2. Overlay.
  // 3. Menu bar.
  menubar::MenuBarController::registerWith(registrar, services.trayPlatform, services.appCommands);
  // 4. Settings.
  // 5. Updater.
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
