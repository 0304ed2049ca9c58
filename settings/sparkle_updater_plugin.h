// The channel "com.pilvo/updater": "checkForUpdates", "isUpdateReady",
// "restartAndUpdate", "getVersionInfo", and the host's own call "updateReady"
// {"version": ...} when an update is about to be shown. The checks and the
// user interface sit in UpdateService.
#pragma once

#include <memory>

#include "channels/flutter_engine.h"
#include "settings/update_service.h"

namespace pilvo::settings {

inline constexpr const char* kUpdaterChannelName = "com.pilvo/updater";

class SparkleUpdaterPlugin final : public channels::FlutterPlugin,
                                   public std::enable_shared_from_this<SparkleUpdaterPlugin> {
 public:
  SparkleUpdaterPlugin(std::shared_ptr<channels::FlutterMethodChannel> channel,
                       std::shared_ptr<UpdateService> service, EventLoop& loop);

  // register(with:): creates "com.pilvo/updater", a new plugin on it, starts
  // the updater's schedule and attaches the plugin. The registrar keeps it alive.
  static std::shared_ptr<SparkleUpdaterPlugin> registerWith(
      channels::FlutterPluginRegistrar& registrar, std::shared_ptr<UpdateService> service);

  void handleMethodCall(const channels::FlutterMethodCall& call,
                        std::unique_ptr<channels::FlutterResult> result) override;

 private:
  // The update is about to be shown: "updateReady" goes out on the next turn
  // of the loop, unless the plugin is gone by then.
  void willShowUpdate(const std::string& version);

  std::shared_ptr<channels::FlutterMethodChannel> channel_;
  std::shared_ptr<UpdateService> service_;
  EventLoop& loop_;
};

}  // namespace pilvo::settings
