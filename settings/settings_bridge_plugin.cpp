#include "settings/settings_bridge_plugin.h"

#include <string>

namespace pilvo::settings {

SettingsBridgePlugin::SettingsBridgePlugin(std::shared_ptr<SettingsService> service)
    : service_(std::move(service)) {}

void SettingsBridgePlugin::registerWith(channels::FlutterPluginRegistrar& registrar,
                                        std::shared_ptr<SettingsService> service) {
  auto channel = channels::FlutterMethodChannel::methodChannelWithName(
      kSettingsChannelName, registrar.messenger(), registrar.log());
  auto plugin = std::make_shared<SettingsBridgePlugin>(std::move(service));
  registrar.addMethodCallDelegate(plugin, *channel);
  registrar.keepAlive(channel);
}

void SettingsBridgePlugin::handleMethodCall(const channels::FlutterMethodCall& call,
                                            std::unique_ptr<channels::FlutterResult> result) {
  const std::string& method = call.method;
  if (method == "setLaunchAtLogin") {
    const std::optional<bool> enabled = channels::boolMember(call.arguments, "enabled");
    if (!enabled) {
      result->error(kInvalidArgsCode, "Missing 'enabled'");
      return;
    }
    const std::string failure = service_->setLaunchAtLogin(*enabled);
    if (failure.empty()) {
      result->success();
    } else {
      result->error(kLaunchAtLoginFailedCode, failure);
    }
  } else if (method == "setMenuBarVisible") {
    const std::optional<bool> visible = channels::boolMember(call.arguments, "visible");
    if (!visible) {
      result->error(kInvalidArgsCode, "Missing 'visible'");
      return;
    }
    service_->setMenuBarVisible(*visible);
    result->success();
  } else if (method == "showSavePanel") {
    const std::string* name = channels::stringMember(call.arguments, "name");
    if (!name) {
      result->error(kInvalidArgsCode, "Missing 'name'");
      return;
    }
    std::shared_ptr<channels::FlutterResult> pending = std::move(result);
    service_->showSavePanel(*name, [pending](std::optional<std::string> path) {
      if (path) {
        pending->success(*path);
      } else {
        pending->success();
      }
    });
  } else {
    result->notImplemented();
  }
}

}  // namespace pilvo::settings
