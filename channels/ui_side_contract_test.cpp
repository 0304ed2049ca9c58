// One suite, two UI sides: the in-process FakeFlutterUi that plugin tests use,
// and a real client on the socket bridge. The fake must not drift from what a
// UI connected over the bridge sees.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "channels/bridge_client.h"
#include "channels/flutter_engine.h"
#include "common/glib_event_loop.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_flutter_ui.h"
#include "testing/temp_dir.h"

namespace pilvo::channels {
namespace {

class Echo : public FlutterPlugin, public FlutterStreamHandler {
 public:
  void handleMethodCall(const FlutterMethodCall& call,
                        std::unique_ptr<FlutterResult> result) override {
    if (call.method == "echo") return result->success(call.arguments);
    if (call.method == "emit" && sink) sink->success(call.arguments);
    if (call.method == "emit") return result->success();
    if (call.method == "end" && sink) sink->endOfStream();
    if (call.method == "end") return result->success();
    result->notImplemented();
  }
  std::optional<FlutterError> onListen(const Value&, std::shared_ptr<FlutterEventSink> s) override {
    sink = std::move(s);
    return std::nullopt;
  }
  std::optional<FlutterError> onCancel(const Value&) override { return std::nullopt; }
  std::shared_ptr<FlutterEventSink> sink;
};

void serve(FlutterEngine& engine) {
  auto& registrar = engine.registrarForPlugin("Contract");
  auto echo = std::make_shared<Echo>();
  FlutterMethodChannel channel("c/echo", registrar.messenger());
  registrar.addMethodCallDelegate(echo, channel);
  FlutterEventChannel("c/events", registrar.messenger()).setStreamHandler(echo);
}

struct Received {
  std::string channel;
  Bytes bytes;
  friend bool operator==(const Received&, const Received&) = default;
};

class FakeSide {
 public:
  FakeSide() { serve(engine_); }
  FlutterEngine& engine() { return engine_; }
  MethodResponse call(const std::string& channel, const std::string& method, Value args = {}) {
    auto reply = ui_.invoke(channel, method, std::move(args));
    loop_.runUntilIdle();
    return **reply;
  }
  std::vector<Received> received() {
    loop_.runUntilIdle();
    std::vector<Received> out;
    for (const auto& m : ui_.received()) out.push_back({m.channel, m.bytes});
    return out;
  }

 private:
  testing::FakeEventLoop loop_;
  FlutterEngine engine_{loop_, [](const std::string&) {}};
  testing::FakeFlutterUi ui_{engine_.binaryMessenger()};
};

class BridgeSide {
 public:
  BridgeSide() {
    serve(engine_);
    EXPECT_EQ(engine_.startBridge(dir_.file("s.sock")), "");
    EXPECT_EQ(client_.connect(dir_.file("s.sock")), "");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (engine_.bridge()->clientCount() == 0 && std::chrono::steady_clock::now() < deadline) {
      g_main_context_iteration(context_, FALSE);  // until the host has accepted the client
    }
  }
  ~BridgeSide() { g_main_context_unref(context_); }
  FlutterEngine& engine() { return engine_; }
  MethodResponse call(const std::string& channel, const std::string& method, Value args = {}) {
    const uint32_t id =
        client_.sendMessage(channel, encodeMethodCall({method, std::move(args)}), true, nullptr);
    std::optional<MethodResponse> reply;
    pump([&](Frame& f) {
      if (f.kind == FrameKind::kReply && f.id == id) reply = *decodeMethodResponse(f.payload).value;
      return reply.has_value();
    });
    EXPECT_TRUE(reply) << "no reply to " << method;
    return reply.value_or(FlutterMethodNotImplemented{});
  }
  std::vector<Received> received() {
    pump([](Frame&) { return false; }, 0.05);  // nothing more arrives after a quiet moment
    return received_;
  }

 private:
  template <typename F>
  void pump(F done, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    while (std::chrono::steady_clock::now() < deadline) {
      while (g_main_context_iteration(context_, FALSE)) {
      }
      Frame f;
      if (client_.readFrame(f, 1, nullptr) != BridgeClient::ReadStatus::kFrame) continue;
      if (f.kind == FrameKind::kMessage) received_.push_back({f.channel, f.payload});
      if (done(f)) return;
    }
  }

  GMainContext* context_ = g_main_context_new();
  GlibEventLoop loop_{context_};
  FlutterEngine engine_{loop_, [](const std::string&) {}};
  testing::TempDir dir_;
  BridgeClient client_;
  std::vector<Received> received_;
};

template <typename Side>
class UiSideContractTest : public ::testing::Test {
 protected:
  Side side_;
};
using Sides = ::testing::Types<FakeSide, BridgeSide>;
TYPED_TEST_SUITE(UiSideContractTest, Sides);

TYPED_TEST(UiSideContractTest, CallsRepliesAndNotImplemented) {
  const Value args = makeMap({{"k", Value(ValueList{Value(1.5), Value("v")})}});
  EXPECT_EQ(this->side_.call("c/echo", "echo", args), MethodResponse(args));
  EXPECT_EQ(this->side_.call("c/echo", "unknown"), MethodResponse(FlutterMethodNotImplemented{}));
  EXPECT_EQ(this->side_.call("c/nobody", "echo"), MethodResponse(FlutterMethodNotImplemented{}));
}

TYPED_TEST(UiSideContractTest, HostCallsEventsAndEndOfStreamArriveInOrder) {
  FlutterMethodChannel sidebar("c/sidebar", this->side_.engine().binaryMessenger());
  sidebar.invokeMethod("toggle");
  EXPECT_EQ(this->side_.call("c/events", "listen"), MethodResponse(Value()));
  this->side_.call("c/echo", "emit", Value(7));
  this->side_.call("c/echo", "end");
  EXPECT_EQ(this->side_.received(),
            (std::vector<Received>{{"c/sidebar", encodeMethodCall({"toggle", Value()})},
                                   {"c/events", encodeSuccessEnvelope(Value(7))},
                                   {"c/events", {}}}));
}

}  // namespace
}  // namespace pilvo::channels
