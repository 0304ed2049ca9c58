#include "channels/flutter_engine.h"

namespace pilvo::channels {

BinaryMessenger& FlutterPluginRegistrar::messenger() const { return engine_.binaryMessenger(); }

EventLoop& FlutterPluginRegistrar::loop() const { return engine_.loop(); }

const LogSink& FlutterPluginRegistrar::log() const { return engine_.log(); }

void FlutterPluginRegistrar::addMethodCallDelegate(std::shared_ptr<FlutterPlugin> plugin,
                                                   FlutterMethodChannel& channel) {
  engine_.registrationLog_.push_back("delegate:" + key_ + ":" + channel.name());
  keepAlive(plugin);
  channel.setMethodCallHandler(
      [plugin](const FlutterMethodCall& call, std::unique_ptr<FlutterResult> result) {
        plugin->handleMethodCall(call, std::move(result));
      });
}

void FlutterPluginRegistrar::keepAlive(std::shared_ptr<void> object) {
  if (object) engine_.keptAlive_.push_back(std::move(object));
}

FlutterEngine::FlutterEngine(EventLoop& loop, LogSink log)
    : loop_(loop), log_(std::move(log)), messenger_(loop, log_) {
  messenger_.setChannelObserver([this](const std::string& channel, ChannelKind kind) {
    registrationLog_.push_back((kind == ChannelKind::kEvent ? "eventChannel:" : "channel:") +
                               channel);
  });
}

FlutterEngine::~FlutterEngine() {
  bridge_.reset();
  messenger_.setChannelObserver(nullptr);
  messenger_.setUiSide(nullptr);
}

FlutterPluginRegistrar& FlutterEngine::registrarForPlugin(const std::string& key) {
  registrationLog_.push_back("registrar:" + key);
  auto& slot = registrars_[key];
  if (!slot) slot.reset(new FlutterPluginRegistrar(*this, key));
  return *slot;
}

std::string FlutterEngine::startBridge(const std::string& socketPath, BridgeLimits limits) {
  bridge_.reset();
  auto bridge = std::make_unique<BridgeServer>(loop_, messenger_, limits, log_);
  std::string error = bridge->listen(socketPath.empty() ? defaultSocketPath() : socketPath);
  // Kept either way: clients inside the process connect without the socket.
  bridge_ = std::move(bridge);
  return error;
}

}  // namespace pilvo::channels
