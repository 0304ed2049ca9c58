#include "overlay/focus_overlay_plugin.h"

namespace pilvo::overlay {
namespace {

using channels::Value;

constexpr double kDefaultDurationSeconds = 3.0;

}  // namespace

FocusOverlayPlugin::FocusOverlayPlugin(OverlayPlatform& platform, EventLoop& loop,
                                       host::HostLogSink log,
                                       std::shared_ptr<channels::FlutterMethodChannel> channel)
    : platform_(platform), loop_(loop), log_(std::move(log)), channel_(std::move(channel)) {}

std::shared_ptr<FocusOverlayPlugin> FocusOverlayPlugin::create(
    OverlayPlatform& platform, EventLoop& loop, host::HostLogSink log,
    std::shared_ptr<channels::FlutterMethodChannel> channel) {
  std::shared_ptr<FocusOverlayPlugin> plugin(
      new FocusOverlayPlugin(platform, loop, std::move(log), std::move(channel)));
  // Queued before any call can arrive, so every call's block finds the panels.
  loop.post([plugin] { plugin->createPanels(); });
  return plugin;
}

void FocusOverlayPlugin::registerWith(channels::FlutterPluginRegistrar& registrar,
                                      OverlayPlatform& platform, host::HostLogSink log) {
  auto channel = channels::FlutterMethodChannel::methodChannelWithName(
      kOverlayChannelName, registrar.messenger(), registrar.log());
  auto plugin = create(platform, registrar.loop(), std::move(log), channel);
  registrar.addMethodCallDelegate(plugin, *channel);
  registrar.keepAlive(channel);
}

void FocusOverlayPlugin::createPanels() {
  dimPanel_ = std::make_unique<ScreenDimPanel>(platform_);
  overlayPanel_ = std::make_unique<OverlayPanel>(platform_, loop_, log_);
  std::weak_ptr<FocusOverlayPlugin> weak = weak_from_this();
  overlayPanel_->onDismiss = [weak] {
    if (auto self = weak.lock()) self->dimPanel_->hide(kDimFadeOutSeconds);
  };
  overlayPanel_->onNudgeResponse = [weak, channel = channel_,
                                    log = log_](const std::string& answer) {
    if (auto self = weak.lock()) self->dimPanel_->hide(kDimFadeOutSeconds);
    if (channel) channel->invokeMethod("nudgeResponse", Value(answer));
    if (log) log(host::HostLogLevel::kInfo, "Tavik: Sent nudgeResponse to Dart \u2014 " + answer);
  };
  info("Tavik: OverlayPanel + ScreenDimPanel initialized");
}

void FocusOverlayPlugin::handleMethodCall(const channels::FlutterMethodCall& call,
                                          std::unique_ptr<channels::FlutterResult> result) {
  const std::string& method = call.method;
  info("Tavik: Overlay method called: " + method);
  std::weak_ptr<FocusOverlayPlugin> weak = weak_from_this();
  if (method == "showOverlay") {
    showOverlay(call.arguments, std::move(result));
  } else if (method == "hideOverlay") {
    loop_.post([weak] {
      auto self = weak.lock();
      if (!self) return;
      self->dimPanel_->hide(kDimFadeOutSeconds);
      self->overlayPanel_->hide();
    });
    result->success();
  } else if (method == "updateAvatarState") {
    const std::string* state = channels::stringMember(call.arguments, "state");
    if (!state) {
      result->error(channels::kInvalidArgsCode, "State required");
      return;
    }
    const AvatarState avatarState = avatarStateFromRaw(*state).value_or(AvatarState::kAlert);
    loop_.post([weak, avatarState] {
      auto self = weak.lock();
      if (self) self->overlayPanel_->updateAvatarState(avatarState);
    });
    result->success();
  } else if (method == "updateMessage") {
    const std::string* message = channels::stringMember(call.arguments, "message");
    if (!message) {
      result->error(channels::kInvalidArgsCode, "Message required");
      return;
    }
    loop_.post([weak, message = *message] {
      auto self = weak.lock();
      if (self) self->overlayPanel_->updateMessage(message);
    });
    result->success();
  } else {
    result->notImplemented();
  }
}

void FocusOverlayPlugin::showOverlay(const Value& args,
                                     std::unique_ptr<channels::FlutterResult> result) {
  const std::string* messageArg = channels::stringMember(args, "message");
  if (!messageArg) {
    error("Tavik: ERROR - Invalid args for showOverlay");
    result->error(channels::kInvalidArgsCode, "Message required");
    return;
  }
  const std::string message = *messageArg;
  const double duration =
      channels::numberMember(args, "durationSeconds").value_or(kDefaultDurationSeconds);
  const std::string* positionArg = channels::stringMember(args, "position");
  const OverlayPosition position =
      (positionArg ? overlayPositionFromRaw(*positionArg) : std::nullopt)
          .value_or(OverlayPosition::kTopRight);
  const std::string* stateArg = channels::stringMember(args, "avatarState");
  const AvatarState avatarState =
      (stateArg ? avatarStateFromRaw(*stateArg) : std::nullopt).value_or(AvatarState::kAlert);
  const bool showButtons = channels::boolMember(args, "showButtons").value_or(false);
  const std::string* modeArg = channels::stringMember(args, "buttonMode");
  const std::string buttonMode = modeArg ? *modeArg : "";

  info("Tavik: Showing overlay - " + message + " (buttons: " + (showButtons ? "true" : "false") +
       ", buttonMode: " + buttonMode + ")");

  std::weak_ptr<FocusOverlayPlugin> weak = weak_from_this();
  loop_.post([weak, message, avatarState, duration, position, showButtons, buttonMode] {
    auto self = weak.lock();
    if (!self) return;
    // Asked once, so both panels land on the same monitor.
    const std::optional<Screen> screen = self->platform_.mainScreen();
    self->dimPanel_->show(screen, kDimFadeInSeconds);
    self->overlayPanel_->show(screen, message, avatarState, duration, position, showButtons,
                              buttonMode);
  });
  result->success();
}

void FocusOverlayPlugin::info(const std::string& text) const {
  if (log_) log_(host::HostLogLevel::kInfo, text);
}

void FocusOverlayPlugin::error(const std::string& text) const {
  if (log_) log_(host::HostLogLevel::kError, text);
}

}  // namespace pilvo::overlay
