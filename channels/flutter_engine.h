// Plugins, registrars and the engine that owns the messenger and the bridge.
//
// Host start-up: make one FlutterEngine on the main loop, ask it for a
// registrar per plugin key (registrarForPlugin), create channels on the
// registrar's messenger, attach plugins with addMethodCallDelegate, and finally
// startBridge() so UI processes can connect. The engine records every registrar
// request and channel creation in order (registrationLog()).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "channels/bridge_server.h"
#include "channels/channel_log.h"
#include "channels/event_channel.h"
#include "channels/host_messenger.h"
#include "channels/method_channel.h"
#include "common/event_loop.h"

namespace pilvo::channels {

// A native service attached to a method channel.
class FlutterPlugin {
 public:
  virtual ~FlutterPlugin() = default;
  // handle(_:result:): answer `result` exactly once, now or later.
  virtual void handleMethodCall(const FlutterMethodCall& call,
                                std::unique_ptr<FlutterResult> result) = 0;
};

class FlutterEngine;

class FlutterPluginRegistrar {
 public:
  const std::string& key() const { return key_; }
  // The messenger on which the plugin creates its channels (the engine's).
  BinaryMessenger& messenger() const;
  EventLoop& loop() const;
  const LogSink& log() const;

  // addMethodCallDelegate:channel: - every call on `channel` goes to
  // plugin->handleMethodCall on the main loop; the plugin stays alive for the
  // life of the engine.
  void addMethodCallDelegate(std::shared_ptr<FlutterPlugin> plugin, FlutterMethodChannel& channel);

  // Keeps any object alive for the life of the engine (e.g. a controller that
  // owns its channels, or a stream handler).
  void keepAlive(std::shared_ptr<void> object);

 private:
  friend class FlutterEngine;
  FlutterPluginRegistrar(FlutterEngine& engine, std::string key)
      : engine_(engine), key_(std::move(key)) {}
  FlutterEngine& engine_;
  std::string key_;
};

// What hands out registrars (the host's view controller in the documents).
class FlutterPluginRegistry {
 public:
  virtual ~FlutterPluginRegistry() = default;
  // registrarForPlugin: one registrar per key; asking again for a key returns
  // the same registrar (and is recorded again).
  virtual FlutterPluginRegistrar& registrarForPlugin(const std::string& key) = 0;
};

class FlutterEngine final : public FlutterPluginRegistry {
 public:
  explicit FlutterEngine(EventLoop& loop, LogSink log = stderrLogSink());
  ~FlutterEngine() override;
  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  HostMessenger& binaryMessenger() { return messenger_; }
  FlutterPluginRegistrar& registrarForPlugin(const std::string& key) override;
  bool hasRegistrar(const std::string& key) const { return registrars_.count(key) != 0; }

  // In order: "registrar:<key>", "channel:<name>" (method channel created),
  // "eventChannel:<name>", "delegate:<key>:<channel>" (addMethodCallDelegate).
  const std::vector<std::string>& registrationLog() const { return registrationLog_; }

  // Opens the socket bridge (default path: defaultSocketPath()). Returns an
  // empty string on success, else an error that says what to do. The bridge
  // exists afterwards either way (bridge()), for clients inside the process;
  // its socketPath() is empty when the socket is not listening.
  std::string startBridge(const std::string& socketPath = {}, BridgeLimits limits = {});
  BridgeServer* bridge() { return bridge_.get(); }

  EventLoop& loop() const { return loop_; }
  const LogSink& log() const { return log_; }

 private:
  friend class FlutterPluginRegistrar;
  EventLoop& loop_;
  LogSink log_;
  HostMessenger messenger_;
  std::map<std::string, std::unique_ptr<FlutterPluginRegistrar>> registrars_;
  std::vector<std::string> registrationLog_;
  std::vector<std::shared_ptr<void>> keptAlive_;
  std::unique_ptr<BridgeServer> bridge_;
};

}  // namespace pilvo::channels
