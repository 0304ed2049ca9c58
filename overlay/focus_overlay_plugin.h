// The channel "com.tavik/overlay": "showOverlay", "hideOverlay",
// "updateAvatarState" and "updateMessage" in, "nudgeResponse" out. Arguments
// are checked and defaulted here and every call is answered at once; the
// window work runs in a block posted to the main loop, in call order.
#pragma once

#include <memory>
#include <string>

#include "channels/flutter_engine.h"
#include "common/event_loop.h"
#include "host/host_log.h"
#include "overlay/overlay_panel.h"
#include "overlay/screen_dim_panel.h"

namespace pilvo::overlay {

inline constexpr const char* kOverlayChannelName = "com.tavik/overlay";

class FocusOverlayPlugin final : public channels::FlutterPlugin,
                                 public std::enable_shared_from_this<FocusOverlayPlugin> {
 public:
  // Posts the creation of both panels to the loop; `channel` carries
  // "nudgeResponse" out (may be null).
  static std::shared_ptr<FocusOverlayPlugin> create(
      OverlayPlatform& platform, EventLoop& loop, host::HostLogSink log,
      std::shared_ptr<channels::FlutterMethodChannel> channel);

  // register(with:): creates "com.tavik/overlay" on the registrar's messenger
  // and attaches a new plugin to it. The registrar keeps both alive.
  static void registerWith(channels::FlutterPluginRegistrar& registrar, OverlayPlatform& platform,
                           host::HostLogSink log);

  void handleMethodCall(const channels::FlutterMethodCall& call,
                        std::unique_ptr<channels::FlutterResult> result) override;

 private:
  FocusOverlayPlugin(OverlayPlatform& platform, EventLoop& loop, host::HostLogSink log,
                     std::shared_ptr<channels::FlutterMethodChannel> channel);
  // Run first on the loop: every later block finds both panels.
  void createPanels();
  void showOverlay(const channels::Value& args, std::unique_ptr<channels::FlutterResult> result);
  void info(const std::string& text) const;
  void error(const std::string& text) const;

  OverlayPlatform& platform_;
  EventLoop& loop_;
  host::HostLogSink log_;
  std::shared_ptr<channels::FlutterMethodChannel> channel_;
  std::unique_ptr<OverlayPanel> overlayPanel_;
  std::unique_ptr<ScreenDimPanel> dimPanel_;
};

}  // namespace pilvo::overlay
