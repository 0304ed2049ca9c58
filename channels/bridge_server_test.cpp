// The bridge server in this process on a private GLib context; clients are
// real sockets. Waits poll the context up to a deadline.
#include "channels/bridge_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "channels/bridge_client.h"
#include "channels/flutter_engine.h"
#include "common/glib_event_loop.h"
#include "testing/temp_dir.h"

namespace pilvo::channels {
namespace {

class Holder : public FlutterPlugin {
 public:
  void handleMethodCall(const FlutterMethodCall&, std::unique_ptr<FlutterResult> result) override {
    held.push_back(std::move(result));
  }
  std::vector<std::unique_ptr<FlutterResult>> held;
};

class BridgeServerTest : public ::testing::Test {
 protected:
  BridgeServerTest() : context_(g_main_context_new()), loop_(context_) {}
  ~BridgeServerTest() override { g_main_context_unref(context_); }

  // Runs the loop until `done` holds; false when 10 s pass first.
  template <typename F>
  bool runUntil(F done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      while (g_main_context_iteration(context_, FALSE)) {
      }
      if (done()) return true;  // evaluated once per round: it may consume a frame
      if (std::chrono::steady_clock::now() > deadline) return false;
      usleep(1000);
    }
  }

  GMainContext* context_;
  GlibEventLoop loop_;
  std::vector<std::string> log_;
  FlutterEngine engine_{loop_, [this](const std::string& l) { log_.push_back(l); }};
  testing::TempDir dir_;
  std::string socket_ = dir_.file("host.sock");
};

TEST_F(BridgeServerTest, TooManyPendingCallsCloseTheConnectionAndLeaveNothingBehind) {
  auto holder = std::make_shared<Holder>();
  FlutterMethodChannel channel("test/hold", engine_.binaryMessenger());
  engine_.registrarForPlugin("Test").addMethodCallDelegate(holder, channel);
  BridgeLimits limits;
  limits.maxPendingCalls = 2;
  ASSERT_EQ(engine_.startBridge(socket_, limits), "");

  BridgeClient client;
  ASSERT_EQ(client.connect(socket_), "");
  ASSERT_TRUE(runUntil([&] { return engine_.bridge()->clientCount() == 1; }));
  for (int i = 0; i < 3; ++i) {
    client.sendMessage("test/hold", encodeMethodCall({"hold", Value(i)}), true, nullptr);
  }
  ASSERT_TRUE(runUntil([&] { return engine_.bridge()->clientCount() == 0; }));
  Frame frame;
  std::string error;
  EXPECT_EQ(client.readFrame(frame, 1000, &error), BridgeClient::ReadStatus::kError);
  EXPECT_NE(error.find("more than 2 calls waiting for an answer"), std::string::npos) << error;

  // Answers for the departed client go nowhere, without complaint.
  ASSERT_EQ(holder->held.size(), 2u);
  for (auto& r : holder->held) r->success(Value("late"));
  ASSERT_TRUE(runUntil([&] { return g_main_context_pending(context_) == FALSE; }));
  EXPECT_EQ(engine_.bridge()->pendingCallCount(), 0u);
}

TEST_F(BridgeServerTest, HostCallsWithAReplyTakeTheFirstClientAnswer) {
  ASSERT_EQ(engine_.startBridge(socket_), "");
  FlutterMethodChannel overlay("test/overlay", engine_.binaryMessenger());
  std::vector<MethodResponse> replies;
  auto collect = [&](MethodResponse r) { replies.push_back(std::move(r)); };

  overlay.invokeMethod("ping", Value(), collect);  // nobody connected: not implemented
  ASSERT_TRUE(runUntil([&] { return replies.size() == 1; }));
  EXPECT_EQ(replies[0], MethodResponse(FlutterMethodNotImplemented{}));

  BridgeClient a, b;
  ASSERT_EQ(a.connect(socket_), "");
  ASSERT_EQ(b.connect(socket_), "");
  ASSERT_TRUE(runUntil([&] { return engine_.bridge()->clientCount() == 2; }));
  overlay.invokeMethod("ping", Value(), collect);
  Frame fa, fb;
  ASSERT_TRUE(
      runUntil([&] { return a.readFrame(fa, 0, nullptr) == BridgeClient::ReadStatus::kFrame; }));
  ASSERT_TRUE(
      runUntil([&] { return b.readFrame(fb, 0, nullptr) == BridgeClient::ReadStatus::kFrame; }));
  EXPECT_EQ(fa.channel, "test/overlay");
  ASSERT_NE(fa.id, 0u);
  b.sendReply(fb.id, encodeSuccessEnvelope(Value("b")), nullptr);
  ASSERT_TRUE(runUntil([&] { return replies.size() == 2; }));
  a.sendReply(fa.id, encodeSuccessEnvelope(Value("a")), nullptr);  // too late: dropped
  ASSERT_TRUE(runUntil([] { return true; }));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[1], MethodResponse(Value("b")));
}

TEST_F(BridgeServerTest, StaleSocketIsReplacedButALiveHostOrAFileIsNot) {
  // A socket file left behind by a host that died.
  const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_.c_str());
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(stale);
  ASSERT_EQ(engine_.startBridge(socket_), "");
  EXPECT_EQ(testing::fileMode(socket_), 0600);

  BridgeServer second(loop_, engine_.binaryMessenger());
  EXPECT_NE(second.listen(socket_).find("already listening"), std::string::npos);
  testing::writeFile(dir_.file("plain"), "x");
  EXPECT_NE(second.listen(dir_.file("plain")).find("not a socket"), std::string::npos);
  EXPECT_NE(second.listen("/" + std::string(200, 'x')).find("shorter path"), std::string::npos);

  engine_.bridge()->stop();
  EXPECT_EQ(testing::fileMode(socket_), -1);  // removed on stop
}

TEST_F(BridgeServerTest, PeersOfAnotherUserAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  ASSERT_EQ(engine_.startBridge(socket_), "");
  // Open the file system's door, so only the peer check stands in the way.
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(socket_.c_str(), 0777), 0);
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    BridgeClient client;
    if (!client.connect(socket_).empty()) _exit(11);
    Frame frame;
    std::string error;
    const auto status = client.readFrame(frame, 10000, &error);
    _exit(status == BridgeClient::ReadStatus::kError &&
                  error.find("other users are refused") != std::string::npos
              ? 0
              : 12);
  }
  int status = -1;
  ASSERT_TRUE(runUntil([&] { return waitpid(child, &status, WNOHANG) == child; }));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(engine_.bridge()->clientCount(), 0u);
  EXPECT_NE(log_.back().find("refused a connection from another user"), std::string::npos);
}

}  // namespace
}  // namespace pilvo::channels
