// Channels, results, event streams and the registry, on the fake loop.
#include <gtest/gtest.h>

#include <thread>

#include "channels/flutter_engine.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_flutter_ui.h"

namespace pilvo::channels {
namespace {

using testing::FakeEventLoop;
using testing::FakeFlutterUi;

struct Fixture {
  FakeEventLoop loop;
  std::vector<std::string> logLines;
  FlutterEngine engine{loop, [this](const std::string& line) { logLines.push_back(line); }};
  FakeFlutterUi ui{engine.binaryMessenger()};

  bool logged(const std::string& text) const {
    for (const auto& l : logLines) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

// Answers "echo" at once, keeps "hold" results for later, knows nothing else.
class EchoPlugin : public FlutterPlugin {
 public:
  void handleMethodCall(const FlutterMethodCall& call,
                        std::unique_ptr<FlutterResult> result) override {
    if (call.method == "echo") {
      result->success(call.arguments);
    } else if (call.method == "fail") {
      result->error("INVALID_ARGS", "Message required");
    } else if (call.method == "hold") {
      held.push_back(std::move(result));
    } else {
      result->notImplemented();
    }
  }
  std::vector<std::unique_ptr<FlutterResult>> held;
};

TEST(FlutterEngineTest, RecordsRegistrarsChannelsAndDelegatesInOrder) {
  Fixture f;
  auto& first = f.engine.registrarForPlugin("AppLinksMacosPlugin");
  auto& shared = f.engine.registrarForPlugin("TavikPlugins");
  EXPECT_EQ(&f.engine.registrarForPlugin("TavikPlugins"), &shared);
  EXPECT_NE(&first, &shared);
  EXPECT_EQ(&shared.messenger(), &f.engine.binaryMessenger());
  FlutterMethodChannel tracking("com.tavik/tracking", shared.messenger());
  shared.addMethodCallDelegate(std::make_shared<EchoPlugin>(), tracking);
  FlutterEventChannel events("com.tavik/menubar_events", shared.messenger());
  FlutterMethodChannel sidebar("com.tavik/sidebar", f.engine.binaryMessenger());
  EXPECT_EQ(f.engine.registrationLog(),
            (std::vector<std::string>{
                "registrar:AppLinksMacosPlugin", "registrar:TavikPlugins", "registrar:TavikPlugins",
                "channel:com.tavik/tracking", "delegate:TavikPlugins:com.tavik/tracking",
                "eventChannel:com.tavik/menubar_events", "channel:com.tavik/sidebar"}));
}

TEST(MethodChannelTest, DelegateAnswersArriveOnTheLoop) {
  Fixture f;
  auto& registrar = f.engine.registrarForPlugin("TavikPlugins");
  {
    // The channel object may go; the registrar keeps the plugin and its handler.
    FlutterMethodChannel channel("com.tavik/tracking", registrar.messenger());
    registrar.addMethodCallDelegate(std::make_shared<EchoPlugin>(), channel);
  }
  const Value args = makeMap({{"bundleId", "firefox-esr"}, {"n", 3}});
  auto echo = f.ui.invoke("com.tavik/tracking", "echo", args);
  auto fail = f.ui.invoke("com.tavik/tracking", "fail");
  auto unknown = f.ui.invoke("com.tavik/tracking", "nope");
  auto noChannel = f.ui.invoke("com.tavik/none", "echo");
  auto garbage = f.ui.sendRaw("com.tavik/tracking", {0x07, 0x09});
  EXPECT_FALSE(echo->has_value());  // nothing before the loop runs
  f.loop.runUntilIdle();
  EXPECT_EQ(**echo, MethodResponse(args));
  EXPECT_EQ(**fail, MethodResponse(FlutterError{"INVALID_ARGS", "Message required", Value()}));
  EXPECT_EQ(**unknown, MethodResponse(FlutterMethodNotImplemented{}));
  EXPECT_EQ(**noChannel, MethodResponse(FlutterMethodNotImplemented{}));
  auto malformed = decodeMethodResponse(**garbage);
  ASSERT_TRUE(malformed);
  EXPECT_EQ(std::get<FlutterError>(*malformed.value).code, "MALFORMED_CALL");
}

TEST(MethodChannelTest, ResultsAnsweredTwiceNeverOrFromAnotherThread) {
  Fixture f;
  auto plugin = std::make_shared<EchoPlugin>();
  FlutterMethodChannel channel("com.tavik/overlay", f.engine.binaryMessenger(),
                               [&f](const std::string& l) { f.logLines.push_back(l); });
  f.engine.registrarForPlugin("TavikPlugins").addMethodCallDelegate(plugin, channel);
  auto twice = f.ui.invoke("com.tavik/overlay", "hold");
  auto dropped = f.ui.invoke("com.tavik/overlay", "hold");
  auto threaded = f.ui.invoke("com.tavik/overlay", "hold");
  f.loop.runUntilIdle();
  ASSERT_EQ(plugin->held.size(), 3u);

  plugin->held[0]->success(Value(1));
  plugin->held[0]->success(Value(2));
  plugin->held[1].reset();
  std::thread worker([&] { plugin->held[2]->success(Value("from a worker")); });
  worker.join();
  EXPECT_FALSE(threaded->has_value());  // carried to the loop, not delivered on the worker
  f.loop.runUntilIdle();

  EXPECT_EQ(**twice, MethodResponse(Value(1)));
  EXPECT_TRUE(f.logged("answered more than once"));
  EXPECT_EQ(std::get<FlutterError>(**dropped).code, kUnansweredErrorCode);
  EXPECT_TRUE(f.logged("never answered"));
  EXPECT_EQ(**threaded, MethodResponse(Value("from a worker")));
}

class RecordingStream : public FlutterStreamHandler {
 public:
  std::optional<FlutterError> onListen(const Value& arguments,
                                       std::shared_ptr<FlutterEventSink> events) override {
    listens.push_back(arguments);
    sink = events;
    if (failListen) return FlutterError{"NO_STREAM", "not now", Value()};
    return std::nullopt;
  }
  std::optional<FlutterError> onCancel(const Value&) override {
    ++cancels;
    return std::nullopt;
  }
  std::vector<Value> listens;
  int cancels = 0;
  bool failListen = false;
  std::shared_ptr<FlutterEventSink> sink;
};

TEST(EventChannelTest, SinkIsValidFromListenUntilCancel) {
  Fixture f;
  auto stream = std::make_shared<RecordingStream>();
  FlutterEventChannel channel("com.tavik/menubar_events", f.engine.binaryMessenger(),
                              [&f](const std::string& l) { f.logLines.push_back(l); });
  channel.setStreamHandler(stream);
  const std::string name = "com.tavik/menubar_events";

  auto cancelFirst = f.ui.invoke(name, "cancel");
  auto listen = f.ui.invoke(name, "listen", Value("args"));
  f.loop.runUntilIdle();
  EXPECT_EQ(**cancelFirst,
            MethodResponse(FlutterError{"error", "No active stream to cancel", Value()}));
  EXPECT_EQ(**listen, MethodResponse(Value()));
  ASSERT_EQ(stream->listens, std::vector<Value>{Value("args")});
  auto first = stream->sink;
  first->success(makeMap({{"command", "startSession"}}));
  first->error({"OOPS", std::nullopt, Value(1)});
  f.loop.runUntilIdle();
  EXPECT_EQ(f.ui.eventsOn(name),
            (std::vector<MethodResponse>{makeMap({{"command", "startSession"}}),
                                         FlutterError{"OOPS", std::nullopt, Value(1)}}));

  // A second listen cancels the first stream; the old sink is void.
  f.ui.invoke(name, "listen");
  f.loop.runUntilIdle();
  EXPECT_EQ(stream->cancels, 1);
  EXPECT_FALSE(first->valid());
  first->success(Value("late"));
  EXPECT_TRUE(f.logged("after its stream ended"));

  auto cancel = f.ui.invoke(name, "cancel");
  f.loop.runUntilIdle();
  EXPECT_EQ(**cancel, MethodResponse(Value()));
  EXPECT_EQ(stream->cancels, 2);
  EXPECT_FALSE(stream->sink->valid());
  EXPECT_EQ(f.ui.eventsOn(name).size(), 2u);

  // End of stream is the empty message; a failed listen leaves no stream.
  f.ui.invoke(name, "listen");
  f.loop.runUntilIdle();
  stream->sink->endOfStream();
  f.loop.runUntilIdle();
  EXPECT_TRUE(f.ui.streamEnded(name));
  stream->failListen = true;
  auto failed = f.ui.invoke(name, "listen");
  f.loop.runUntilIdle();
  EXPECT_EQ(std::get<FlutterError>(**failed).code, "NO_STREAM");
  EXPECT_FALSE(stream->sink->valid());
  auto other = f.ui.invoke(name, "other");
  f.loop.runUntilIdle();
  EXPECT_EQ(**other, MethodResponse(FlutterMethodNotImplemented{}));
}

TEST(ValueTest, WrongTypesCountAsMissingAndWholeNumbersMustBeWhole) {
  const Value args = makeMap({{"name", "x"},
                              {"count", 3},
                              {"big", int64_t{1} << 40},
                              {"whole", 4.0},
                              {"half", 4.5},
                              {"huge", 1e300},
                              {"flag", true},
                              {"list", Value(ValueList{Value(1)})}});
  EXPECT_EQ(*stringMember(args, "name"), "x");
  EXPECT_EQ(stringMember(args, "count"), nullptr);
  EXPECT_EQ(stringMember(args, "missing"), nullptr);
  EXPECT_EQ(stringMember(Value("not a map"), "name"), nullptr);
  EXPECT_EQ(wholeNumberMember(args, "count"), 3);
  EXPECT_EQ(wholeNumberMember(args, "big"), int64_t{1} << 40);
  EXPECT_EQ(wholeNumberMember(args, "whole"), 4);
  EXPECT_EQ(wholeNumberMember(args, "half"), std::nullopt);
  EXPECT_EQ(wholeNumberMember(args, "huge"), std::nullopt);
  EXPECT_EQ(wholeNumberMember(args, "name"), std::nullopt);
  EXPECT_EQ(boolMember(args, "flag"), true);
  EXPECT_EQ(boolMember(args, "count"), std::nullopt);
  EXPECT_EQ(numberMember(args, "half"), 4.5);
  EXPECT_NE(listMember(args, "list"), nullptr);
  EXPECT_EQ(mapMember(args, "list"), nullptr);
}

}  // namespace
}  // namespace pilvo::channels
