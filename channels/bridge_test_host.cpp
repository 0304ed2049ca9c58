// A small host for the bridge's end-to-end tests: serves "test/echo",
// the event channel "test/events" and the host-to-UI channel "test/sidebar".
//
//   bridge_test_host --socket PATH [--lifetime SECONDS]
// Prints "ready" once the socket accepts connections; exits on SIGTERM/SIGINT
// or after the lifetime (default 120 s), so a stuck test never leaves it behind.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "channels/flutter_engine.h"
#include "common/glib_event_loop.h"

namespace {

using namespace pilvo::channels;

class TestStream : public FlutterStreamHandler {
 public:
  std::optional<FlutterError> onListen(const Value& arguments,
                                       std::shared_ptr<FlutterEventSink> events) override {
    sink = events;
    sink->success(makeMap({{"listening", arguments}}));
    return std::nullopt;
  }
  std::optional<FlutterError> onCancel(const Value&) override {
    sink.reset();
    ++cancels;
    return std::nullopt;
  }
  std::shared_ptr<FlutterEventSink> sink;
  int cancels = 0;
};

class TestPlugin : public FlutterPlugin {
 public:
  TestPlugin(FlutterEngine& engine, std::shared_ptr<TestStream> stream,
             std::shared_ptr<FlutterMethodChannel> sidebar)
      : engine_(engine), stream_(std::move(stream)), sidebar_(std::move(sidebar)) {}

  void handleMethodCall(const FlutterMethodCall& call,
                        std::unique_ptr<FlutterResult> result) override {
    const std::string& m = call.method;
    if (m == "echo") {
      result->success(call.arguments);
    } else if (m == "fail") {
      result->error("TEST_FAILURE", "Asked to fail", call.arguments);
    } else if (m == "hold") {
      held_.push_back(std::move(result));
    } else if (m == "release") {
      const auto count = static_cast<int32_t>(held_.size());
      for (auto& r : held_) r->success(Value("released"));
      held_.clear();
      result->success(Value(count));
    } else if (m == "stats") {
      BridgeServer* bridge = engine_.bridge();
      result->success(
          makeMap({{"clients", Value::integer(static_cast<int64_t>(bridge->clientCount()))},
                   {"pending", Value::integer(static_cast<int64_t>(bridge->pendingCallCount()))},
                   {"cancels", stream_->cancels}}));
    } else if (m == "broadcast") {
      sidebar_->invokeMethod("toggle", call.arguments);
      result->success();
    } else if (m == "emit" || m == "end") {
      const bool listening = stream_->sink && stream_->sink->valid();
      if (listening && m == "emit") stream_->sink->success(call.arguments);
      if (listening && m == "end") stream_->sink->endOfStream();
      result->success(Value(listening));
    } else {
      result->notImplemented();
    }
  }

 private:
  FlutterEngine& engine_;
  std::shared_ptr<TestStream> stream_;
  std::shared_ptr<FlutterMethodChannel> sidebar_;
  std::vector<std::unique_ptr<FlutterResult>> held_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string socket;
  double lifetime = 120;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--socket") socket = argv[i + 1];
    if (arg == "--lifetime") lifetime = std::atof(argv[i + 1]);
  }
  if (socket.empty()) {
    std::fprintf(stderr, "usage: bridge_test_host --socket PATH [--lifetime SECONDS]\n");
    return 2;
  }
  pilvo::GlibEventLoop loop;
  FlutterEngine engine(loop);
  auto& registrar = engine.registrarForPlugin("TestPlugins");
  auto stream = std::make_shared<TestStream>();
  auto events = FlutterEventChannel::eventChannelWithName("test/events", registrar.messenger());
  events->setStreamHandler(stream);
  auto sidebar =
      FlutterMethodChannel::methodChannelWithName("test/sidebar", engine.binaryMessenger());
  FlutterMethodChannel echo("test/echo", registrar.messenger());
  registrar.addMethodCallDelegate(std::make_shared<TestPlugin>(engine, stream, sidebar), echo);

  if (std::string error = engine.startBridge(socket); !error.empty()) {
    std::fprintf(stderr, "bridge_test_host: %s\n", error.c_str());
    return 1;
  }
  auto term = loop.addSignal(SIGTERM, [&] { loop.quit(); });
  auto interrupt = loop.addSignal(SIGINT, [&] { loop.quit(); });
  auto deadline = loop.addTimer(lifetime, false, [&] { loop.quit(); });
  std::printf("ready\n");
  std::fflush(stdout);
  loop.run();
  return 0;
}
