// The bridge across processes: bridge_test_host serves channels on a socket;
// pilvoctl and in-test clients talk to it. Every wait has a deadline.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <deque>

#include "channels/bridge_client.h"
#include "channels/json_mapping.h"
#include "testing/temp_dir.h"

extern char** environ;

namespace pilvo::channels {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr double kWaitSeconds = 15;

SteadyClock::time_point after(double seconds) {
  return SteadyClock::now() +
         std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(seconds));
}

// A child process with its standard output and error collected.
class Child {
 public:
  explicit Child(const std::vector<std::string>& args) {
    int out[2], err[2];
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0) << args[0];
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(outFd_);
    close(errFd_);
  }

  // Reads output until `text` shows up on stdout or the deadline passes.
  bool waitForOutput(const std::string& text, double seconds = kWaitSeconds) {
    const auto deadline = after(seconds);
    while (out.find(text) == std::string::npos) {
      if (!pump(deadline)) return out.find(text) != std::string::npos;
    }
    return true;
  }

  // Waits for the exit status; a child still running at the deadline is killed (-1).
  int wait(double seconds = kWaitSeconds) {
    const auto deadline = after(seconds);
    while (pump(deadline)) {
    }
    int status = 0;
    while (SteadyClock::now() < deadline && waitpid(pid_, &status, WNOHANG) == 0) {
      poll(nullptr, 0, 10);
    }
    if (waitpid(pid_, &status, WNOHANG) == 0) return -1;  // the destructor kills it
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  void kill(int signal) { ::kill(pid_, signal); }

  std::string out, err;

 private:
  // Reads what is there; false once both pipes are closed or the deadline passed.
  bool pump(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0 || (outFd_ < 0 && errFd_ < 0)) return false;
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (!fds[i].revents) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      int& fd = i == 0 ? outFd_ : errFd_;
      if (n <= 0) {
        close(fd);
        fd = -1;
      } else {
        (i == 0 ? out : err).append(buf, static_cast<size_t>(n));
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int outFd_ = -1, errFd_ = -1;
};

// A bridge client that keeps frames arriving ahead of the reply it waits for.
class TestClient {
 public:
  std::string connect(const std::string& socket) { return client_.connect(socket); }
  BridgeClient& raw() { return client_; }

  MethodResponse call(const std::string& channel, const std::string& method, Value args = {}) {
    std::string error;
    const uint32_t id =
        client_.sendMessage(channel, encodeMethodCall({method, args}), true, &error);
    EXPECT_NE(id, 0u) << error;
    Frame frame;
    while (client_.readFrame(frame, static_cast<int>(kWaitSeconds * 1000), &error) ==
           BridgeClient::ReadStatus::kFrame) {
      if (frame.kind == FrameKind::kReply && frame.id == id) {
        return *decodeMethodResponse(frame.payload).value;
      }
      early_.push_back(std::move(frame));
    }
    ADD_FAILURE() << "no reply to " << method << ": " << error;
    return FlutterMethodNotImplemented{};
  }

  // The next message the host sent (events, its own calls), waiting up to `timeoutMs`.
  std::optional<Frame> nextMessage(int timeoutMs) {
    Frame frame;
    while (early_.empty() || early_.front().kind != FrameKind::kMessage) {
      if (!early_.empty()) {
        early_.pop_front();
        continue;
      }
      if (client_.readFrame(frame, timeoutMs, nullptr) != BridgeClient::ReadStatus::kFrame) {
        return std::nullopt;
      }
      early_.push_back(std::move(frame));
    }
    frame = std::move(early_.front());
    early_.pop_front();
    return frame;
  }

  std::optional<Value> nextEvent(int timeoutMs) {
    auto frame = nextMessage(timeoutMs);
    if (!frame) return std::nullopt;
    return std::get<Value>(*decodeMethodResponse(frame->payload).value);
  }

 private:
  BridgeClient client_;
  std::deque<Frame> early_;
};

class BridgeEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = std::make_unique<Child>(std::vector<std::string>{TEST_HOST_PATH, "--socket", socket_});
    ASSERT_TRUE(host_->waitForOutput("ready")) << host_->err;
  }

  Child pilvoctl(std::vector<std::string> args) {
    args.insert(args.begin(), {PILVOCTL_PATH, "--socket", socket_});
    return Child(args);
  }

  Value stats() {
    TestClient client;
    EXPECT_EQ(client.connect(socket_), "");
    return std::get<Value>(client.call("test/echo", "stats"));
  }

  testing::TempDir dir_;
  std::string socket_ = dir_.file("run/host.sock");
  std::unique_ptr<Child> host_;
};

TEST_F(BridgeEndToEndTest, CallPrintsRepliesErrorsAndNotImplemented) {
  EXPECT_EQ(testing::fileMode(dir_.file("run")), 0700);
  EXPECT_EQ(testing::fileMode(socket_), 0600);

  auto echo = pilvoctl({"call", "test/echo", "echo", R"({"b":[1,2.5,"x",null],"a":{"$int64":5}})"});
  EXPECT_EQ(echo.wait(), 0) << echo.err;
  EXPECT_EQ(echo.out, "{\"b\":[1,2.5,\"x\",null],\"a\":5}\n");

  auto fail = pilvoctl({"call", "test/echo", "fail", "[true]"});
  EXPECT_EQ(fail.wait(), 1);
  EXPECT_EQ(fail.out,
            "{\"code\":\"TEST_FAILURE\",\"message\":\"Asked to fail\",\"details\":[true]}\n");

  auto unknown = pilvoctl({"call", "test/echo", "nothing"});
  EXPECT_EQ(unknown.wait(), 2);
  EXPECT_NE(unknown.err.find("not implemented"), std::string::npos) << unknown.err;

  auto badJson = pilvoctl({"call", "test/echo", "echo", "{nope"});
  EXPECT_EQ(badJson.wait(), 4);

  Child nowhere({PILVOCTL_PATH, "--socket", dir_.file("none.sock"), "call", "test/echo", "echo"});
  EXPECT_EQ(nowhere.wait(), 3);
  EXPECT_NE(nowhere.err.find("Is Pilvo running?"), std::string::npos) << nowhere.err;
}

TEST_F(BridgeEndToEndTest, ListenPrintsEventsAndHostCallsAsJsonLines) {
  auto listen =
      pilvoctl({"listen", "test/events", "test/sidebar", "--count", "4", "--timeout", "15"});
  ASSERT_TRUE(listen.waitForOutput("listening")) << listen.err;

  TestClient other;  // a second client: its call reaches the host, the toggle reaches both
  ASSERT_EQ(other.connect(socket_), "");
  EXPECT_EQ(other.call("test/echo", "broadcast", makeMap({{"open", true}})),
            MethodResponse(Value()));
  auto toggle = other.nextMessage(15000);
  ASSERT_TRUE(toggle);
  EXPECT_EQ(toggle->channel, "test/sidebar");

  EXPECT_EQ(other.call("test/echo", "emit", Value(std::vector<int32_t>{1, 2})),
            MethodResponse(Value(true)));
  EXPECT_EQ(other.call("test/echo", "end"), MethodResponse(Value(true)));
  EXPECT_EQ(listen.wait(), 0) << listen.err;
  EXPECT_EQ(listen.out,
            "{\"channel\":\"test/events\",\"event\":{\"listening\":null}}\n"
            "{\"channel\":\"test/sidebar\",\"method\":\"toggle\",\"arguments\":{\"open\":true}}\n"
            "{\"channel\":\"test/events\",\"event\":{\"$int32List\":[1,2]}}\n"
            "{\"channel\":\"test/events\",\"endOfStream\":true}\n");
}

TEST_F(BridgeEndToEndTest, ClientKilledMidCallLeavesNoPendingResult) {
  BridgeClient waiting;
  ASSERT_EQ(waiting.connect(socket_), "");
  std::string error;
  const uint32_t heldId =
      waiting.sendMessage("test/echo", encodeMethodCall({"hold", Value()}), true, &error);

  auto doomed = pilvoctl({"call", "test/echo", "hold"});
  const auto deadline = SteadyClock::now() + std::chrono::seconds(15);
  // Pending: the two held calls plus the stats call itself.
  while (*wholeNumberMember(stats(), "pending") < 3 && SteadyClock::now() < deadline) {
    poll(nullptr, 0, 20);
  }
  ASSERT_EQ(wholeNumberMember(stats(), "pending"), 3);
  doomed.kill(SIGKILL);
  EXPECT_EQ(doomed.wait(), 128 + SIGKILL);

  // Both held results are answered; only the live client gets its answer.
  auto release = pilvoctl({"call", "test/echo", "release"});
  EXPECT_EQ(release.wait(), 0);
  EXPECT_EQ(release.out, "2\n");
  Frame frame;
  ASSERT_EQ(waiting.readFrame(frame, 15000, &error), BridgeClient::ReadStatus::kFrame) << error;
  EXPECT_EQ(frame.id, heldId);
  EXPECT_EQ(*decodeMethodResponse(frame.payload).value, MethodResponse(Value("released")));
  // Once the host has seen the other clients go: `waiting` and the stats client,
  // and nothing pending but the stats call itself.
  const auto settle = SteadyClock::now() + std::chrono::seconds(15);
  Value after = stats();
  while (*wholeNumberMember(after, "clients") > 2 && SteadyClock::now() < settle) {
    poll(nullptr, 0, 20);
    after = stats();
  }
  EXPECT_EQ(wholeNumberMember(after, "clients"), 2);
  EXPECT_EQ(wholeNumberMember(after, "pending"), 1);
}

TEST_F(BridgeEndToEndTest, LaterListenTakesTheStreamAndGarbageClosesOnlyThatClient) {
  TestClient first, second;
  ASSERT_EQ(first.connect(socket_), "");
  ASSERT_EQ(second.connect(socket_), "");
  EXPECT_EQ(first.call("test/events", "listen", Value(1)), MethodResponse(Value()));
  EXPECT_EQ(first.nextEvent(15000), makeMap({{"listening", 1}}));
  EXPECT_EQ(second.call("test/events", "listen", Value(2)), MethodResponse(Value()));
  EXPECT_EQ(second.nextEvent(15000), makeMap({{"listening", 2}}));
  // The first client's cancel no longer concerns the stream.
  EXPECT_EQ(std::get<FlutterError>(first.call("test/events", "cancel")).code, "error");
  EXPECT_EQ(first.call("test/echo", "emit", Value("only second")), MethodResponse(Value(true)));
  EXPECT_EQ(second.nextEvent(15000), Value("only second"));
  EXPECT_EQ(first.nextEvent(100), std::nullopt);

  // A client that sends garbage is told why and dropped; the stream it held is cancelled.
  const uint8_t garbage[] = {0xff, 0xff, 0xff, 0x7f, 0x01};
  ASSERT_EQ(write(second.raw().fd(), garbage, sizeof garbage),
            static_cast<ssize_t>(sizeof garbage));
  Frame frame;
  std::string error;
  EXPECT_EQ(second.raw().readFrame(frame, 15000, &error), BridgeClient::ReadStatus::kError);
  EXPECT_NE(error.find("larger than the limit"), std::string::npos) << error;
  EXPECT_EQ(wholeNumberMember(stats(), "cancels"),
            2);  // replaced by the second listen, then dropped
  EXPECT_EQ(first.call("test/echo", "echo", Value("still here")),
            MethodResponse(Value("still here")));
}

}  // namespace
}  // namespace pilvo::channels
