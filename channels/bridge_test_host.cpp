// The channels that the bridge's end-to-end and UI-side contract tests talk to,
// and a small host serving them on a socket:
//
//   bridge_test_host --socket PATH [--lifetime SECONDS]
// Prints "ready" once the socket accepts connections; exits on SIGTERM
// or after the lifetime (default 120 s), so a stuck test never leaves it behind.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "channels/flutter_engine.h"
#include "common/glib_event_loop.h"

namespace pilvo::channels {

// "test/echo" answers echo, fail, drop (never), twice, worker (from another
// thread), hold (answered by release), stats (bridge only) and ask (calls
// "ping" on "test/sidebar"). broadcast (calls "toggle" there), emit, emitError
// and end (on every sink "test/events" ever gave; void ones drop them) answer
// whether a stream is listening. A stream starts with the event {"listening":
// arguments}; listening with the argument "fail" fails.
// The client count as the bridge last reported it.
size_t reportedClients = 0;

void serveTestChannels(FlutterEngine& engine) {
  struct State : FlutterStreamHandler {
    std::optional<FlutterError> onListen(const Value& args,
                                         std::shared_ptr<FlutterEventSink> events) override {
      sinks.push_back(events);
      if (args == Value("fail")) return FlutterError{"NO_STREAM", "Asked to fail", Value()};
      events->success(makeMap({{"listening", args}}));
      return std::nullopt;
    }
    std::optional<FlutterError> onCancel(const Value&) override {
      ++cancels;
      return std::nullopt;
    }
    std::vector<std::shared_ptr<FlutterEventSink>> sinks;
    int cancels = 0;
    std::vector<std::unique_ptr<FlutterResult>> held;
  };
  auto state = std::make_shared<State>();
  auto& registrar = engine.registrarForPlugin("TestPlugins");
  FlutterEventChannel("test/events", registrar.messenger()).setStreamHandler(state);
  auto sidebar = std::make_shared<FlutterMethodChannel>("test/sidebar", engine.binaryMessenger());
  FlutterMethodChannel("test/echo", registrar.messenger())
      .setMethodCallHandler([&engine, state, sidebar](const FlutterMethodCall& call,
                                                      std::unique_ptr<FlutterResult> result) {
        const std::string& m = call.method;
        if (m == "echo") return result->success(call.arguments);
        if (m == "fail") return result->error("TEST_FAILURE", "Asked to fail", call.arguments);
        if (m == "drop") return;
        if (m == "twice") result->success(Value("first"));
        if (m == "twice") return result->success(Value("second"));
        if (m == "worker") return std::thread([&] { result->success(Value("worker")); }).join();
        if (m == "hold") return state->held.push_back(std::move(result));
        if (m == "release") {
          for (auto& r : state->held) r->success(Value("released"));
          result->success(Value::integer(static_cast<int64_t>(state->held.size())));
          return state->held.clear();
        }
        if (m == "stats") {
          return result->success(makeMap(
              {{"clients", Value::integer(static_cast<int64_t>(engine.bridge()->clientCount()))},
               {"reportedClients", Value::integer(static_cast<int64_t>(reportedClients))},
               {"pending",
                Value::integer(static_cast<int64_t>(engine.bridge()->pendingCallCount()))},
               {"cancels", state->cancels}}));
        }
        if (m == "ask") {  // answered with the value of the first UI answer
          std::shared_ptr<FlutterResult> asked = std::move(result);
          return sidebar->invokeMethod("ping", Value(), [asked](MethodResponse r) {
            asked->success(std::holds_alternative<Value>(r) ? std::get<Value>(r) : Value("none"));
          });
        }
        bool listening = false;
        for (const auto& sink : state->sinks) {
          listening = listening || sink->valid();
          if (m == "emit") sink->success(call.arguments);
          if (m == "emitError") sink->error({"OOPS", "Asked to", call.arguments});
          if (m == "end" && sink->valid()) sink->endOfStream();
        }
        if (m == "broadcast") sidebar->invokeMethod("toggle", call.arguments);
        if (m == "broadcast" || m.starts_with("emit") || m == "end") {
          return result->success(Value(listening));
        }
        result->notImplemented();
      });
}

}  // namespace pilvo::channels

#ifndef PILVO_TEST_CHANNELS_ONLY
int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: bridge_test_host --socket PATH [--lifetime SECONDS]\n");
    return 2;
  }
  const std::string socket = argv[2];
  const double lifetime = argc == 5 ? std::atof(argv[4]) : 120;
  pilvo::GlibEventLoop loop;
  pilvo::channels::FlutterEngine engine(loop);
  pilvo::channels::serveTestChannels(engine);
  if (std::string error = engine.startBridge(socket); !error.empty()) {
    std::fprintf(stderr, "bridge_test_host: %s\n", error.c_str());
    return 1;
  }
  engine.bridge()->setClientCountHandler(
      [](size_t clients) { pilvo::channels::reportedClients = clients; });
  auto term = loop.addSignal(SIGTERM, [&] { loop.quit(); });
  auto deadline = loop.addTimer(lifetime, false, [&] { loop.quit(); });
  std::printf("ready\n");
  std::fflush(stdout);
  loop.run();
  return 0;
}
#endif
