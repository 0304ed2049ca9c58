// The channel "com.tavik/settings": method names, argument checks and error
// replies. The behaviour sits in SettingsService.
#pragma once

#include <memory>

#include "channels/flutter_engine.h"
#include "settings/settings_service.h"

namespace pilvo::settings {

inline constexpr const char* kSettingsChannelName = "com.tavik/settings";
using channels::kInvalidArgsCode;
inline constexpr const char* kLaunchAtLoginFailedCode = "LAUNCH_AT_LOGIN_FAILED";

class SettingsBridgePlugin final : public channels::FlutterPlugin {
 public:
  explicit SettingsBridgePlugin(std::shared_ptr<SettingsService> service);

  // register(with:): creates "com.tavik/settings" on the registrar's
  // messenger and attaches a new plugin; the registrar keeps both alive.
  static void registerWith(channels::FlutterPluginRegistrar& registrar,
                           std::shared_ptr<SettingsService> service);

  void handleMethodCall(const channels::FlutterMethodCall& call,
                        std::unique_ptr<channels::FlutterResult> result) override;

 private:
  std::shared_ptr<SettingsService> service_;
};

}  // namespace pilvo::settings
