#include "settings/sparkle_updater_plugin.h"

namespace pilvo::settings {

SparkleUpdaterPlugin::SparkleUpdaterPlugin(std::shared_ptr<channels::FlutterMethodChannel> channel,
                                           std::shared_ptr<UpdateService> service, EventLoop& loop)
    : channel_(std::move(channel)), service_(std::move(service)), loop_(loop) {}

std::shared_ptr<SparkleUpdaterPlugin> SparkleUpdaterPlugin::registerWith(
    channels::FlutterPluginRegistrar& registrar, std::shared_ptr<UpdateService> service) {
  auto channel = channels::FlutterMethodChannel::methodChannelWithName(
      kUpdaterChannelName, registrar.messenger(), registrar.log());
  auto plugin = std::make_shared<SparkleUpdaterPlugin>(channel, service, registrar.loop());
  service->setUpdateShownHandler(
      [weak = std::weak_ptr<SparkleUpdaterPlugin>(plugin)](const std::string& version) {
        if (auto self = weak.lock()) self->willShowUpdate(version);
      });
  service->start();
  registrar.addMethodCallDelegate(plugin, *channel);
  return plugin;
}

void SparkleUpdaterPlugin::willShowUpdate(const std::string& version) {
  loop_.post([weak = weak_from_this(), version] {
    if (auto self = weak.lock()) {
      self->channel_->invokeMethod("updateReady", channels::makeMap({{"version", version}}));
    }
  });
}

void SparkleUpdaterPlugin::handleMethodCall(const channels::FlutterMethodCall& call,
                                            std::unique_ptr<channels::FlutterResult> result) {
  const std::string& method = call.method;
  if (method == "checkForUpdates") {
    service_->checkForUpdates();
    result->success();
  } else if (method == "isUpdateReady") {
    result->success(service_->updateReady());
  } else if (method == "restartAndUpdate") {
    service_->restartAndUpdate();
    result->success();
  } else if (method == "getVersionInfo") {
    const std::string& version = service_->currentVersion();
    result->success(channels::makeMap({{"currentVersion", version.empty() ? "unknown" : version}}));
  } else {
    result->notImplemented();
  }
}

}  // namespace pilvo::settings
