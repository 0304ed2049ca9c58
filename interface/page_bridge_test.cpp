// The page's end of the bridge, with the page played by the test: what the
// page posts goes in as text, the scripts meant for the page come out and
// their message is read back. The host side is the bridge test channels.
#include "interface/page_bridge.h"

#include <gtest/gtest.h>

#include "channels/flutter_engine.h"
#include "testing/fake_event_loop.h"

namespace pilvo::channels {
void serveTestChannels(FlutterEngine& engine);  // channels/bridge_test_host.cpp
}

namespace pilvo::interface {
namespace {

using channels::Json;

class PageBridgeTest : public ::testing::Test {
 protected:
  PageBridgeTest() {
    channels::serveTestChannels(engine_);
    page_.connect();
  }
  // The messages the page was handed since the last look.
  std::vector<Json> toPage() {
    loop_.runUntilIdle();
    std::vector<Json> out;
    for (const std::string& script : std::exchange(scripts_, {})) {
      const auto start = script.rfind("})(");
      EXPECT_NE(start, std::string::npos) << script;
      out.push_back(Json::parse(script.substr(start + 3, script.size() - start - 5)));
    }
    return out;
  }
  // The page calls the host; returns the call's id.
  int64_t post(const std::string& channel, const std::string& method, Json args = nullptr) {
    const int64_t id = nextId_++;
    page_.receive(
        Json{{"kind", "call"}, {"id", id}, {"channel", channel}, {"method", method}, {"args", args}}
            .dump());
    return id;
  }
  // post(), then the one reply the page was handed.
  Json call(const std::string& channel, const std::string& method, Json args = nullptr) {
    const int64_t id = post(channel, method, std::move(args));
    std::vector<Json> replies;
    for (Json& m : toPage()) {
      if (m["kind"] == "reply") {
        EXPECT_EQ(m["id"], id);
        replies.push_back(m);
      } else {
        others_.push_back(m);
      }
    }
    EXPECT_EQ(replies.size(), 1u) << method;
    return replies.empty() ? Json() : replies[0];
  }

  testing::FakeEventLoop loop_;
  channels::FlutterEngine engine_{loop_, [](const std::string&) {}};
  channels::BridgeServer bridge_{loop_, engine_.binaryMessenger(), {}, [](const std::string&) {}};
  std::vector<std::string> scripts_;
  std::vector<std::string> logged_;
  PageBridge page_{bridge_, engine_.binaryMessenger(),
                   [this](const std::string& s) { scripts_.push_back(s); },
                   [this](const std::string& line) { logged_.push_back(line); }};
  std::vector<Json> others_;  // messages that arrived while a call waited
  int64_t nextId_ = 1;
};

TEST_F(PageBridgeTest, CallsGetOneReplyEachInTheJsonMapping) {
  const Json args = {{"n", int64_t{1} << 40}, {"list", {1.5, "ü", nullptr, true}}};
  EXPECT_EQ(call("test/echo", "echo", args)["result"], args);
  EXPECT_EQ(call("test/echo", "fail", 3)["error"],
            (Json{{"code", "TEST_FAILURE"}, {"message", "Asked to fail"}, {"details", 3}}));
  EXPECT_EQ(call("test/echo", "twice")["result"], "first");
  EXPECT_EQ(call("test/echo", "unknown")["notImplemented"], true);
  EXPECT_EQ(call("test/nobody", "echo")["notImplemented"], true);
  EXPECT_EQ(call("test/echo", "echo", {{"$bytes", "%%%"}})["error"]["code"], "MALFORMED_CALL");
  EXPECT_EQ(call("", "echo")["error"]["code"], "MALFORMED_CALL");
  // Not JSON, or no id: nothing to answer, and nothing breaks.
  for (const char* text : {"not json", "[1]", R"({"kind":"call","channel":"test/echo"})"}) {
    page_.receive(text);
  }
  EXPECT_TRUE(toPage().empty());
  EXPECT_EQ(logged_.size(), 3u);
}

TEST_F(PageBridgeTest, HostCallsReachThePageAndItsAnswersReachTheHost) {
  ASSERT_EQ(post("test/echo", "ask"), 1);
  std::vector<Json> messages = toPage();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0]["kind"], "call");
  EXPECT_EQ(messages[0]["channel"], "test/sidebar");
  EXPECT_EQ(messages[0]["method"], "ping");
  page_.receive(Json{{"kind", "reply"}, {"id", messages[0]["id"]}, {"result", "pong"}}.dump());
  messages = toPage();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], (Json{{"kind", "reply"}, {"id", 1}, {"result", "pong"}}));
  // A call without an answer wanted ("toggle") has id 0.
  call("test/echo", "broadcast", "b");
  ASSERT_EQ(others_.size(), 1u);
  EXPECT_EQ(others_[0], (Json{{"kind", "call"},
                              {"id", 0},
                              {"channel", "test/sidebar"},
                              {"method", "toggle"},
                              {"args", "b"}}));
}

TEST_F(PageBridgeTest, StreamsReachThePageUntilTheEnd) {
  EXPECT_EQ(call("test/events", "listen", 4)["result"], nullptr);
  call("test/echo", "emit", 7);
  call("test/echo", "emitError", 8);
  call("test/echo", "end");
  EXPECT_EQ(others_,
            (std::vector<Json>{
                {{"kind", "event"}, {"channel", "test/events"}, {"event", {{"listening", 4}}}},
                {{"kind", "event"}, {"channel", "test/events"}, {"event", 7}},
                {{"kind", "event"},
                 {"channel", "test/events"},
                 {"error", {{"code", "OOPS"}, {"message", "Asked to"}, {"details", 8}}}},
                {{"kind", "event"}, {"channel", "test/events"}, {"end", true}}}));
  EXPECT_EQ(call("test/events", "cancel")["result"], nullptr);
  EXPECT_EQ(call("test/events", "cancel")["error"]["message"], "No active stream to cancel");
}

TEST_F(PageBridgeTest, AReloadedPageIsANewClientAndTheOldOneLeavesNothingWaiting) {
  EXPECT_EQ(bridge_.clientCount(), 1u);
  ASSERT_EQ(post("test/echo", "ask"), 1);
  post("test/echo", "hold");
  EXPECT_EQ(toPage().size(), 1u);  // the host's "ping"
  page_.connect();                 // the page reloads
  EXPECT_EQ(bridge_.clientCount(), 1u);
  // "ping" went unanswered: the host settles "ask" as not answered, but the
  // reply has no page left to go to; "hold" is released into the void.
  call("test/echo", "release");
  EXPECT_TRUE(others_.empty());
  page_.disconnect();
  EXPECT_EQ(bridge_.clientCount(), 0u);
  // A message from a page without a connection connects it again.
  EXPECT_EQ(call("test/echo", "echo", 1)["result"], 1);
  EXPECT_EQ(bridge_.clientCount(), 1u);
}

TEST_F(PageBridgeTest, DeliveryScriptAnswersForAPageWithoutChannels) {
  const std::string script = PageBridge::deliveryScript(R"({"kind":"call","id":3})");
  EXPECT_NE(script.find("window.__pilvoChannels"), std::string::npos);
  EXPECT_NE(script.find("notImplemented:true"), std::string::npos);
}

}  // namespace
}  // namespace pilvo::interface
