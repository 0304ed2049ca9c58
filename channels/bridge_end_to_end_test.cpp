// The bridge across processes: bridge_test_host serves the test channels on a
// socket; pilvoctl and in-test clients talk to it. Every wait has a deadline.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "channels/bridge_client.h"
#include "channels/flutter_engine.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_flutter_ui.h"
#include "testing/temp_dir.h"
#include "testing/wait.h"

extern char** environ;

namespace pilvo::channels {

void serveTestChannels(FlutterEngine& engine);  // bridge_test_host.cpp

namespace {

using Message = testing::FakeFlutterUi::Message;
using testing::waitUntil;
constexpr int kWaitMs = 15000;

Message event(const Value& value) { return {"test/events", encodeSuccessEnvelope(value)}; }

// A child process with its standard output and error in files.
class Child {
 public:
  Child(std::vector<std::string> args, const std::string& out) : out_(out) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out_.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&files, 2, (out_ + ".err").c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ), 0) << argv[0];
    posix_spawn_file_actions_destroy(&files);
  }
  ~Child() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
  }
  std::string out() const { return testing::readFile(out_); }
  std::string err() const { return testing::readFile(out_ + ".err"); }
  bool printed(const std::string& text) const {
    return waitUntil([&] { return out().find(text) != std::string::npos; });
  }
  // The exit status (128 + signal when killed), or -1 when it still runs after 15 s.
  int wait() {
    int status = 0;
    if (!waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void kill(int signal) { ::kill(pid_, signal); }

 private:
  std::string out_;
  pid_t pid_ = -1;
};

// bridge_test_host on a socket in a private directory, accepting clients.
struct TestHost {
  TestHost() { EXPECT_TRUE(host.printed("ready")) << host.err(); }
  Child spawn(std::vector<std::string> args) {
    return Child(std::move(args), dir.file("out" + std::to_string(++children)));
  }
  testing::TempDir dir;
  std::string socket = dir.file("run/host.sock");
  int children = 0;
  Child host = spawn({TEST_HOST_PATH, "--socket", socket});
};

// A bridge client that keeps the host's messages (events, its own calls) that
// arrive while it waits for a reply.
class TestClient {
 public:
  explicit TestClient(const std::string& socket) { EXPECT_EQ(client_.connect(socket), ""); }
  BridgeClient& raw() { return client_; }
  uint32_t send(const std::string& channel, const Bytes& message) {
    return client_.sendMessage(channel, message, true, nullptr);
  }
  MethodResponse reply(uint32_t id) {
    while (auto f = read(kWaitMs)) {
      if (f->kind != FrameKind::kReply) continue;
      if (f->id == id) return *decodeMethodResponse(f->payload).value;
      ADD_FAILURE() << "a reply to call " << f->id << " while waiting for " << id;
    }
    ADD_FAILURE() << "no reply to call " << id;
    return FlutterMethodNotImplemented{};
  }
  MethodResponse callRaw(const std::string& channel, const Bytes& message) {
    return reply(send(channel, message));
  }
  MethodResponse call(const std::string& channel, const std::string& method, Value args = {}) {
    return callRaw(channel, encodeMethodCall({method, std::move(args)}));
  }
  // Why the host closed the connection (its error frame), read past anything else.
  std::string closedBecause() {
    Frame f;
    std::string error;
    while (client_.readFrame(f, kWaitMs, &error) == BridgeClient::ReadStatus::kFrame) continue;
    return error;
  }
  // The host's messages since the last look, once `count` are there and a quiet moment passed.
  std::vector<Message> messages(size_t count = 0) {
    while (messages_.size() < count && read(kWaitMs)) continue;
    while (read(100)) continue;
    return std::exchange(messages_, {});
  }

 private:
  std::optional<Frame> read(int timeoutMs) {
    Frame f;
    if (client_.readFrame(f, timeoutMs, nullptr) != BridgeClient::ReadStatus::kFrame) return {};
    if (f.kind == FrameKind::kMessage) messages_.push_back({f.channel, f.payload});
    return f;
  }
  BridgeClient client_;
  std::vector<Message> messages_;
};

// One suite, three UI sides: the in-process FakeFlutterUi that plugin tests
// use, a local client of the bridge, and a real client of bridge_test_host. The fake must not drift
// from the bridge.
class FakeSide {
 public:
  FakeSide() { serveTestChannels(engine_); }
  MethodResponse callRaw(const std::string& channel, const Bytes& message) {
    auto reply = ui_.sendRaw(channel, message);
    EXPECT_FALSE(reply->has_value()) << "answered in place, not on the loop";
    loop_.runUntilIdle();
    EXPECT_TRUE(reply->has_value());
    return *decodeMethodResponse(reply->value_or(Bytes{})).value;
  }
  MethodResponse call(const std::string& channel, const std::string& method, Value args = {}) {
    return callRaw(channel, encodeMethodCall({method, std::move(args)}));
  }
  std::vector<Message> messages(size_t) {
    loop_.runUntilIdle();
    return ui_.take();
  }

 private:
  testing::FakeEventLoop loop_;
  FlutterEngine engine_{loop_, [](const std::string&) {}};
  testing::FakeFlutterUi ui_{engine_.binaryMessenger()};
};

// A client inside the host process (the interface's web view), on the same
// bridge as socket clients but without the socket.
class LocalSide {
 public:
  LocalSide() {
    serveTestChannels(engine_);
    connection_ = bridge_.connectLocal([this](const Frame& f) { frames_.push_back(f); });
  }
  MethodResponse callRaw(const std::string& channel, const Bytes& message) {
    const uint32_t id = nextId_++;
    connection_->send({FrameKind::kMessage, id, channel, message});
    loop_.runUntilIdle();
    std::optional<MethodResponse> answer;
    for (auto it = frames_.begin(); it != frames_.end();) {
      if (it->kind == FrameKind::kReply && it->id == id) {
        EXPECT_FALSE(answer.has_value()) << "two replies to call " << id;
        answer = *decodeMethodResponse(it->payload).value;
        it = frames_.erase(it);
      } else {
        ++it;
      }
    }
    EXPECT_TRUE(answer.has_value()) << "no reply to call " << id;
    return answer.value_or(FlutterMethodNotImplemented{});
  }
  MethodResponse call(const std::string& channel, const std::string& method, Value args = {}) {
    return callRaw(channel, encodeMethodCall({method, std::move(args)}));
  }
  std::vector<Message> messages(size_t) {
    loop_.runUntilIdle();
    std::vector<Message> out;
    for (auto& f : std::exchange(frames_, {})) {
      if (f.kind == FrameKind::kMessage) out.push_back({f.channel, f.payload});
    }
    return out;
  }

 private:
  testing::FakeEventLoop loop_;
  FlutterEngine engine_{loop_, [](const std::string&) {}};
  BridgeServer bridge_{loop_, engine_.binaryMessenger(), {}, [](const std::string&) {}};
  std::vector<Frame> frames_;
  uint32_t nextId_ = 1;
  std::unique_ptr<LocalBridgeConnection> connection_;
};

struct BridgeSide : TestHost, TestClient {
  BridgeSide() : TestClient(socket) {}
};

template <typename Side>
class UiSideContractTest : public ::testing::Test {
 protected:
  Side side_;
};
using Sides = ::testing::Types<FakeSide, LocalSide, BridgeSide>;
TYPED_TEST_SUITE(UiSideContractTest, Sides);

// A local client counts as connected, shares host calls with socket clients
// and, when it leaves, its stream is cancelled and its host calls settle.
TEST(LocalBridgeTest, CountsAsAClientAndLeavesNothingBehind) {
  testing::FakeEventLoop loop;
  FlutterEngine engine{loop, [](const std::string&) {}};
  serveTestChannels(engine);
  BridgeServer bridge{loop, engine.binaryMessenger(), {}, [](const std::string&) {}};
  std::vector<size_t> counts;
  bridge.setClientCountHandler([&](size_t n) { counts.push_back(n); });
  std::vector<Frame> frames;
  auto connection = bridge.connectLocal([&](const Frame& f) { frames.push_back(f); });
  EXPECT_EQ(bridge.clientCount(), 1u);
  EXPECT_TRUE(connection->connected());
  connection->send({FrameKind::kMessage, 1, "test/events", encodeMethodCall({"listen", Value(1)})});
  std::optional<Bytes> hostCallReply;
  engine.binaryMessenger().send("test/sidebar", encodeMethodCall({"toggle", Value()}),
                                [&](ByteView r) { hostCallReply = Bytes(r.begin(), r.end()); });
  loop.runUntilIdle();
  ASSERT_EQ(frames.size(), 3u);  // the listen's reply, its first event, the host call
  auto hostCall = std::find_if(frames.begin(), frames.end(),
                               [](const Frame& f) { return f.channel == "test/sidebar"; });
  ASSERT_NE(hostCall, frames.end());
  EXPECT_NE(hostCall->id, 0u);  // an answer is wanted
  EXPECT_FALSE(hostCallReply);
  connection.reset();
  loop.runUntilIdle();
  EXPECT_EQ(hostCallReply, Bytes{});  // nobody left to answer: not implemented
  EXPECT_EQ(bridge.clientCount(), 0u);
  EXPECT_EQ(counts, (std::vector<size_t>{1, 0}));
  // The stream was cancelled: a new listener's cancel is its own, not a leftover.
  auto again = bridge.connectLocal([&](const Frame& f) { frames.push_back(f); });
  frames.clear();
  again->send({FrameKind::kMessage, 2, "test/events", encodeMethodCall({"cancel", Value()})});
  loop.runUntilIdle();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(*decodeMethodResponse(frames[0].payload).value,
            MethodResponse(FlutterError{"error", "No active stream to cancel", Value()}));
}

TYPED_TEST(UiSideContractTest, EveryCallGetsExactlyOneAnswer) {
  auto& side = this->side_;
  const Value args = makeMap({{"k", Value(ValueList{Value(1.5), Value("v")})}});
  EXPECT_EQ(side.call("test/echo", "echo", args), MethodResponse(args));
  EXPECT_EQ(side.call("test/echo", "fail", Value(3)),
            MethodResponse(FlutterError{"TEST_FAILURE", "Asked to fail", Value(3)}));
  EXPECT_EQ(side.call("test/echo", "twice"), MethodResponse(Value("first")));
  EXPECT_EQ(side.call("test/echo", "worker"), MethodResponse(Value("worker")));
  EXPECT_EQ(std::get<FlutterError>(side.call("test/echo", "drop")).code, kUnansweredErrorCode);
  EXPECT_EQ(std::get<FlutterError>(side.callRaw("test/echo", {0x07, 0x09})).code, "MALFORMED_CALL");
  EXPECT_EQ(side.call("test/echo", "unknown"), MethodResponse(FlutterMethodNotImplemented{}));
  EXPECT_EQ(side.call("test/nobody", "echo"), MethodResponse(FlutterMethodNotImplemented{}));
  EXPECT_EQ(side.call("test/events", "other"), MethodResponse(FlutterMethodNotImplemented{}));
}

// Only the latest listen's sink delivers: the sinks of a failed and of a
// replaced listen are void, and so is the latest one after its end of stream.
TYPED_TEST(UiSideContractTest, StreamsCarryEventsInOrderUntilTheEndAndACancel) {
  auto& side = this->side_;
  const MethodResponse ok(Value{});
  EXPECT_EQ(side.call("test/events", "listen", Value("fail")),
            MethodResponse(FlutterError{"NO_STREAM", "Asked to fail", Value()}));
  EXPECT_EQ(side.call("test/events", "listen", Value(4)), ok);
  EXPECT_EQ(side.call("test/events", "listen", Value(5)), ok);
  EXPECT_EQ(side.call("test/echo", "broadcast", Value("b")), MethodResponse(Value(true)));
  side.call("test/echo", "emit", Value(7));
  side.call("test/echo", "emitError", Value(8));
  side.call("test/echo", "end");
  EXPECT_EQ(side.call("test/echo", "emit", Value(9)), MethodResponse(Value(false)));
  EXPECT_EQ(side.call("test/events", "cancel"), ok);  // after the end too
  EXPECT_EQ(side.call("test/events", "cancel"),
            MethodResponse(FlutterError{"error", "No active stream to cancel", Value()}));
  EXPECT_EQ(
      side.messages(6),
      (std::vector<Message>{event(makeMap({{"listening", 4}})),
                            event(makeMap({{"listening", 5}})),
                            {"test/sidebar", encodeMethodCall({"toggle", Value("b")})},
                            event(Value(7)),
                            {"test/events", encodeErrorEnvelope({"OOPS", "Asked to", Value(8)})},
                            {"test/events", {}}}));
}

class BridgeEndToEndTest : public ::testing::Test, public TestHost {
 protected:
  Child pilvoctl(std::vector<std::string> args) {
    args.insert(args.begin(), {PILVOCTL_PATH, "--socket", socket});
    return spawn(std::move(args));
  }
  // A figure from the host, asked by a fresh client (which counts itself and its call).
  int64_t hostStat(const std::string& name) {
    return wholeNumberMember(std::get<Value>(TestClient(socket).call("test/echo", "stats")), name)
        .value_or(-1);
  }
};

TEST_F(BridgeEndToEndTest, PilvoctlCallPrintsTheReplyAndExitsByOutcome) {
  EXPECT_EQ(testing::fileMode(dir.file("run")), 0700);
  // pilvoctl arguments, exit status, standard output, part of standard error
  const std::vector<std::tuple<std::vector<std::string>, int, std::string, std::string>> cases = {
      {{"call", "test/echo", "echo", R"({"b":[1,2.5,"x",null],"a":{"$int64":5}})"},
       0,
       "{\"b\":[1,2.5,\"x\",null],\"a\":5}\n",
       ""},
      {{"call", "test/echo", "fail", "[true]"},
       1,
       "{\"code\":\"TEST_FAILURE\",\"message\":\"Asked to fail\",\"details\":[true]}\n",
       ""},
      {{"call", "test/echo", "nothing"}, 2, "", "not implemented"},
      {{"call", "test/echo", "echo", "{nope"}, 4, "", ""},
      {{"--socket", dir.file("none.sock"), "call", "test/echo", "echo"},
       3,
       "",
       "Is Pilvo running?"},
  };
  for (const auto& [args, status, out, err] : cases) {
    auto child = pilvoctl(args);
    EXPECT_EQ(child.wait(), status) << args.back();
    EXPECT_EQ(child.out(), out) << args.back();
    EXPECT_NE(child.err().find(err), std::string::npos) << child.err();
  }
}

TEST_F(BridgeEndToEndTest, PilvoctlListenPrintsWhatASecondClientSetsOff) {
  auto listen =
      pilvoctl({"listen", "test/events", "test/sidebar", "--count", "4", "--timeout", "15"});
  ASSERT_TRUE(listen.printed("listening")) << listen.err();
  TestClient other(socket);  // its call reaches the host, the toggle reaches both clients
  other.call("test/echo", "broadcast", makeMap({{"open", true}}));
  EXPECT_EQ(other.messages(1),
            (std::vector<Message>{
                {"test/sidebar", encodeMethodCall({"toggle", makeMap({{"open", true}})})}}));
  EXPECT_EQ(other.call("test/echo", "emit", Value(std::vector<int32_t>{1, 2})),
            MethodResponse(Value(true)));
  other.call("test/echo", "end");
  EXPECT_EQ(listen.wait(), 0) << listen.err();
  EXPECT_EQ(listen.out(),
            "{\"channel\":\"test/events\",\"event\":{\"listening\":null}}\n"
            "{\"channel\":\"test/sidebar\",\"method\":\"toggle\",\"arguments\":{\"open\":true}}\n"
            "{\"channel\":\"test/events\",\"event\":{\"$int32List\":[1,2]}}\n"
            "{\"channel\":\"test/events\",\"endOfStream\":true}\n");
}

TEST_F(BridgeEndToEndTest, ClientKilledMidCallLeavesNothingPending) {
  TestClient waiting(socket);
  const uint32_t held = waiting.send("test/echo", encodeMethodCall({"hold", Value()}));
  auto doomed = pilvoctl({"call", "test/echo", "hold"});
  ASSERT_TRUE(waitUntil([&] { return hostStat("pending") == 3; }));  // two held, one stats
  doomed.kill(SIGKILL);
  EXPECT_EQ(doomed.wait(), 128 + SIGKILL);

  // Both held results are answered; only the live client gets its answer.
  EXPECT_EQ(TestClient(socket).call("test/echo", "release"), MethodResponse(Value(2)));
  EXPECT_EQ(waiting.reply(held), MethodResponse(Value("released")));
  // Once the host has seen the others go: `waiting` and the stats client remain.
  EXPECT_TRUE(waitUntil([&] { return hostStat("clients") == 2; }));
  EXPECT_EQ(hostStat("reportedClients"), 2) << "every connect and leave is reported";
  EXPECT_EQ(hostStat("pending"), 1);
}

TEST_F(BridgeEndToEndTest, StreamFollowsTheLatestListen) {
  TestClient first(socket), second(socket);
  EXPECT_EQ(first.call("test/events", "listen", Value(1)), MethodResponse(Value()));
  EXPECT_EQ(second.call("test/events", "listen", Value(2)), MethodResponse(Value()));
  // The first client's cancel no longer concerns the stream, nor do its events.
  EXPECT_EQ(std::get<FlutterError>(first.call("test/events", "cancel")).code, "error");
  first.call("test/echo", "emit", Value("second only"));
  EXPECT_EQ(first.messages(), std::vector<Message>{event(makeMap({{"listening", 1}}))});
  EXPECT_EQ(second.messages(2), (std::vector<Message>{event(makeMap({{"listening", 2}})),
                                                      event(Value("second only"))}));
  EXPECT_EQ(hostStat("cancels"), 1);  // the first stream, replaced
}

TEST_F(BridgeEndToEndTest, MisbehavingClientsAreToldWhyAndDroppedAlone) {
  TestClient bystander(socket), garbled(socket), greedy(socket);
  EXPECT_EQ(garbled.call("test/events", "listen"), MethodResponse(Value()));
  const uint8_t garbage[] = {0xff, 0xff, 0xff, 0x7f, 0x01};
  ASSERT_EQ(write(garbled.raw().fd(), garbage, sizeof garbage), ssize_t{sizeof garbage});
  for (int i = 0; i <= 1024; ++i) greedy.send("test/echo", encodeMethodCall({"hold", Value()}));
  EXPECT_NE(garbled.closedBecause().find("larger than the limit"), std::string::npos);
  EXPECT_NE(greedy.closedBecause().find("more than 1024 calls waiting"), std::string::npos);
  EXPECT_EQ(bystander.call("test/echo", "echo", Value(1)), MethodResponse(Value(1)));
  EXPECT_EQ(hostStat("cancels"), 1);  // the stream the garbled client held
  EXPECT_TRUE(waitUntil([&] { return hostStat("clients") == 2; }));
  EXPECT_EQ(hostStat("reportedClients"), 2) << "every connect and leave is reported";
  EXPECT_EQ(hostStat("pending"), 1);  // the stats call itself
}

TEST_F(BridgeEndToEndTest, HostCallsTakeTheFirstClientAnswer) {
  TestClient a(socket), b(socket);
  b.call("test/echo", "echo");  // both are accepted by now
  const uint32_t asked = a.send("test/echo", encodeMethodCall({"ask", Value()}));
  Frame pingA, pingB;
  ASSERT_EQ(a.raw().readFrame(pingA, kWaitMs, nullptr), BridgeClient::ReadStatus::kFrame);
  ASSERT_EQ(b.raw().readFrame(pingB, kWaitMs, nullptr), BridgeClient::ReadStatus::kFrame);
  EXPECT_EQ(pingB.channel, "test/sidebar");
  ASSERT_NE(pingB.id, 0u);
  b.raw().sendReply(pingB.id, encodeSuccessEnvelope(Value("b")), nullptr);
  EXPECT_EQ(a.reply(asked), MethodResponse(Value("b")));
  a.raw().sendReply(pingA.id, encodeSuccessEnvelope(Value("a")), nullptr);  // too late: dropped
  EXPECT_EQ(a.call("test/echo", "echo", Value(1)), MethodResponse(Value(1)));
  EXPECT_EQ(host.err().find("ask was answered more than once"), std::string::npos) << host.err();
}

TEST_F(BridgeEndToEndTest, AStaleSocketIsReplacedButALiveHostOrAFileIsNot) {
  const std::string stale = dir.file("stale.sock");  // left behind by a host that died
  auto dead = spawn({TEST_HOST_PATH, "--socket", stale});
  ASSERT_TRUE(dead.printed("ready")) << dead.err();
  dead.kill(SIGKILL);
  dead.wait();
  testing::writeFile(dir.file("plain"), "x");
  for (const auto& [path, why] : std::vector<std::pair<std::string, std::string>>{
           {socket, "already listening"},
           {dir.file("plain"), "not a socket"},
           {"/" + std::string(200, 'x'), "shorter path"}}) {
    auto refused = spawn({TEST_HOST_PATH, "--socket", path});
    EXPECT_EQ(refused.wait(), 1);
    EXPECT_NE(refused.err().find(why), std::string::npos) << refused.err();
  }
  auto second = spawn({TEST_HOST_PATH, "--socket", stale});
  ASSERT_TRUE(second.printed("ready")) << second.err();
  EXPECT_EQ(testing::fileMode(stale), 0600);
  second.kill(SIGTERM);
  EXPECT_EQ(second.wait(), 0);
  EXPECT_EQ(testing::fileMode(stale), -1);  // removed on the way out
}

TEST_F(BridgeEndToEndTest, PeersOfAnotherUserAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  // Open the file system's door, so only the peer check stands in the way.
  for (const auto& path : {dir.path(), dir.file("run"), socket}) {
    ASSERT_EQ(chmod(path.c_str(), 0777), 0);
  }
  const pid_t child = fork();
  if (child == 0) {
    BridgeClient client;
    Frame frame;
    std::string error;
    _exit(setgid(65534) == 0 && setuid(65534) == 0 && client.connect(socket).empty() &&
                  client.readFrame(frame, kWaitMs, &error) == BridgeClient::ReadStatus::kError &&
                  error.find("other users are refused") != std::string::npos
              ? 0
              : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  EXPECT_NE(host.err().find("refused a connection from another user"), std::string::npos);
  EXPECT_EQ(hostStat("clients"), 1);
}

}  // namespace
}  // namespace pilvo::channels
