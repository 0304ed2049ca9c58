#include "host/host_plugins.h"

#include "host/generated_plugin_registrant.h"
#include "overlay/focus_overlay_plugin.h"
#include "tracking/focus_tracking_plugin.h"

namespace pilvo::host {

void registerHostPlugins(channels::FlutterPluginRegistrar& registrar,
                         const HostServices& services) {
  // 1. Tracking, with the installed-application index.
  tracking::AppIndexer indexer;
  if (services.appIndexPlatform) {
    indexer = tracking::makeAppIndexer(std::make_shared<tracking::AppIndexService>(
        *services.appIndexPlatform, *services.loop,
        [log = services.log](std::string_view line) {
          if (log) log(HostLogLevel::kInfo, line);
        },
        services.makeAppIndexRunner ? services.makeAppIndexRunner() : nullptr));
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
