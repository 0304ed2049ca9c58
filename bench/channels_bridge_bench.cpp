// Bridge round trips: 10,000 small calls from one client over the Unix socket
// to a host serving an echo channel on its own GLib main loop thread. Reports
// calls per second and the median and 99th-percentile round-trip latency.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "channels/bridge_client.h"
#include "channels/flutter_engine.h"
#include "common/glib_event_loop.h"

namespace {

using namespace pilvo::channels;
using SteadyClock = std::chrono::steady_clock;

class Echo : public FlutterPlugin {
 public:
  void handleMethodCall(const FlutterMethodCall& call,
                        std::unique_ptr<FlutterResult> result) override {
    result->success(call.arguments);
  }
};

// A host on its own thread and main context, for as long as the object lives.
class HostThread {
 public:
  explicit HostThread(const std::string& socket) {
    std::promise<std::string> started;
    auto ready = started.get_future();
    thread_ = std::thread([this, socket, &started] {
      GMainContext* context = g_main_context_new();
      g_main_context_push_thread_default(context);
      {
        pilvo::GlibEventLoop loop(context);
        FlutterEngine engine(loop, [](const std::string&) {});
        FlutterMethodChannel channel("bench/echo", engine.binaryMessenger());
        engine.registrarForPlugin("Bench").addMethodCallDelegate(std::make_shared<Echo>(), channel);
        loop_ = &loop;
        started.set_value(engine.startBridge(socket));
        loop.run();
      }
      g_main_context_pop_thread_default(context);
      g_main_context_unref(context);
    });
    error_ = ready.get();
  }
  ~HostThread() {
    loop_->post([loop = loop_] { loop->quit(); });
    thread_.join();
  }
  const std::string& error() const { return error_; }

 private:
  std::thread thread_;
  pilvo::GlibEventLoop* loop_ = nullptr;
  std::string error_;
};

void BM_BridgeRoundTrip(benchmark::State& state) {
  gchar* dir = g_dir_make_tmp("pilvo-bench-XXXXXX", nullptr);
  const std::string socket = std::string(dir) + "/host.sock";
  {
    HostThread host(socket);
    BridgeClient client;
    if (!host.error().empty() || !client.connect(socket).empty()) {
      state.SkipWithError("could not start the bridge");
    } else {
      const Bytes call =
          encodeMethodCall({"getFrontmostApp", makeMap({{"includeTitle", true}, {"n", 1}})});
      std::vector<double> micros;
      micros.reserve(static_cast<size_t>(state.max_iterations));
      const auto start = SteadyClock::now();
      for (auto _ : state) {
        const auto t0 = SteadyClock::now();
        const uint32_t id = client.sendMessage("bench/echo", call, true, nullptr);
        Frame frame;
        while (client.readFrame(frame, 5000, nullptr) == BridgeClient::ReadStatus::kFrame &&
               !(frame.kind == FrameKind::kReply && frame.id == id)) {
        }
        micros.push_back(
            std::chrono::duration<double, std::micro>(SteadyClock::now() - t0).count());
      }
      const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
      std::sort(micros.begin(), micros.end());
      state.counters["calls_per_s"] = static_cast<double>(micros.size()) / seconds;
      state.counters["p50_us"] = micros[micros.size() / 2];
      state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    }
  }
  g_rmdir(dir);
  g_free(dir);
}
BENCHMARK(BM_BridgeRoundTrip)->Iterations(10000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
