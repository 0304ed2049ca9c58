#include "agent/agent_runner.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>

#include "agent/agent_test_support.h"
#include "agent/constants.h"
#include "agent/instance_lock.h"
#include "testing/fake_accessibility.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_input_idleness.h"
#include "testing/fake_sleep_notifications.h"
#include "testing/fake_workspace.h"
#include "testing/temp_dir.h"

namespace pilvo::agent {
namespace {

class FakeAgentPlatform final : public AgentPlatform {
 public:
  explicit FakeAgentPlatform(pilvo::testing::FakeEventLoop& loop) : idleness_(&loop) {}
  Workspace& workspace() override { return workspace_; }
  InputIdleness& idleness() override { return idleness_; }
  Accessibility& accessibility() override { return accessibility_; }
  SleepNotifications* sleepNotifications() override { return &sleep_; }
  void setConnectionLostHandler(std::function<void()> handler) override { lost = std::move(handler); }

  pilvo::testing::FakeWorkspace workspace_;
  pilvo::testing::FakeInputIdleness idleness_;
  pilvo::testing::FakeAccessibility accessibility_;
  pilvo::testing::FakeSleepNotifications sleep_;
  std::function<void()> lost;
};

class AgentRunnerTest : public ::testing::Test {
 protected:
  int run(std::function<void(FakeAgentPlatform&)> whileRunning, bool trusted = true,
          bool connects = true) {
    Logger logger(dir_.file("state/pilvo-agent.log"), loop_, nullptr);
    return runAgent(
        loop_, logger, paths_,
        [&](std::string* error) -> std::unique_ptr<AgentPlatform> {
          if (!connects) {
            *error = "cannot open X display";
            return nullptr;
          }
          auto platform = std::make_unique<FakeAgentPlatform>(loop_);
          platform->accessibility_.setTrusted(trusted);
          platform->workspace_.setFrontmost(RunningApp{std::string("org.term"), std::nullopt, 5});
          FakeAgentPlatform* raw = platform.get();
          loop_.setRunHook([raw, whileRunning] { whileRunning(*raw); });
          return platform;
        },
        4242);
  }
  std::vector<std::string> log() {
    return test::logMessages(pilvo::testing::readFile(dir_.file("state/pilvo-agent.log")));
  }

  pilvo::testing::TempDir dir_;
  pilvo::testing::FakeEventLoop loop_;
  AgentPaths paths_{dir_.file("data/pilvo"), dir_.file("state/pilvo-agent.log")};
};

TEST_F(AgentRunnerTest, SignalRunsTheShutdownSequenceAndExitsZero) {
  for (int signum : {SIGTERM, SIGINT}) {
    const int status = run([&](FakeAgentPlatform&) { loop_.raiseSignal(signum); });
    EXPECT_EQ(status, kExitStopped);
  }
  const std::vector<std::string> expected = {
      "PilvoAgent starting (pid 4242)",
      "Opening database at " + paths_.supportDir + "/agent_events.db",
      "Starting app monitor",
      "appSwitch: org.term",
      "Monitor started (AX permission: yes)",
      "PilvoAgent running \u2014 entering run loop",
      "Received termination signal, shutting down",
      "Monitor stopped",
      "Database closed"};
  auto lines = log();
  ASSERT_EQ(lines.size(), 2 * expected.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 9), expected);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 9, lines.end()), expected);
  EXPECT_EQ(test::readEvents(paths_.supportDir + "/agent_events.db").size(), 2u)
      << "a restart starts with no last application, so it records the front one again";
}

TEST_F(AgentRunnerTest, StartWithoutTrustAsksOnceAndRecordsSwitchesOnly) {
  int requests = -1;
  run(
      [&](FakeAgentPlatform& p) {
        requests = p.accessibility_.trustRequests();
        loop_.raiseSignal(SIGTERM);
      },
      /*trusted=*/false);
  EXPECT_EQ(requests, 1);
  auto lines = log();
  EXPECT_EQ(lines[1], "Not trusted for Accessibility \u2014 requesting permission");
  EXPECT_EQ(lines[5], "Monitor started (AX permission: no \u2014 app switches only)");
}

TEST_F(AgentRunnerTest, LostDisplayShutsDownCleanlyWithItsOwnStatus) {
  EXPECT_EQ(run([](FakeAgentPlatform& p) { p.lost(); }), kExitDisplayLost);
  auto lines = log();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"Lost the connection to the X display, shutting down",
                                      "Monitor stopped", "Database closed"}));

  EXPECT_EQ(run([](FakeAgentPlatform&) {}, true, /*connects=*/false), kExitNoDisplay);
  EXPECT_EQ(log().back(), "Fatal error: cannot open X display");
}

TEST_F(AgentRunnerTest, SleepStartsAnIdlePeriodThatLastsUntilInputAfterTheWake) {
  bool handlerCleared = false;
  run([&](FakeAgentPlatform& p) {
    // Input 100 s ago, then the lid closes: the sleep is idle time from now.
    p.idleness_.setAllSecondsSince(100);
    p.sleep_.emitPrepareForSleep(true);
    // Woken with no input yet: the idle clock stopped during the sleep, but
    // the user is still away.
    p.sleep_.emitPrepareForSleep(false);
    loop_.advance(90);
    p.idleness_.input(InputKind::kMouseMoved);
    loop_.advance(30);
    // A second sleep while already idle adds no row.
    p.idleness_.setAllSecondsSince(400);
    loop_.advance(30);
    p.sleep_.emitPrepareForSleep(true);
    p.sleep_.emitPrepareForSleep(false);
    loop_.advance(60);
    loop_.raiseSignal(SIGTERM);
    handlerCleared = !p.sleep_.hasHandler();
  });
  using test::EventRow;
  const std::optional<std::string> term("org.term");
  EXPECT_EQ(test::readEvents(paths_.supportDir + "/agent_events.db"),
            (std::vector<EventRow>{{"appSwitch", term, std::nullopt},
                                   {"idle", term, std::nullopt},
                                   {"active", term, std::nullopt},
                                   {"idle", term, std::nullopt}}));
  auto lines = log();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "User went idle (100s)"), 1) << lines[6];
  EXPECT_TRUE(handlerCleared) << "no sleep reaches a stopped monitor";
}

TEST(WaylandSessionTest, WarnsWhenNativeWaylandApplicationsAreHidden) {
  const struct {
    const char* waylandDisplay;
    const char* sessionType;
    bool warns;
  } cases[] = {
      {nullptr, nullptr, false},    {nullptr, "x11", false},    {"", "x11", false},
      {"wayland-0", nullptr, true}, {nullptr, "wayland", true}, {"", "wayland", true},
  };
  for (const auto& c : cases) {
    const std::string warning = waylandSessionWarning(c.waylandDisplay, c.sessionType);
    EXPECT_EQ(!warning.empty(), c.warns) << (c.waylandDisplay ? c.waylandDisplay : "unset") << " "
                                         << (c.sessionType ? c.sessionType : "unset");
  }
}

TEST_F(AgentRunnerTest, SecondAgentExitsWithItsOwnStatusBeforeTouchingTheStore) {
  InstanceLock::Attempt first = InstanceLock::acquire(paths_.supportDir, 777);
  ASSERT_TRUE(first.lock) << first.error;
  bool connected = false;
  // A log due for rotation: the running agent writes to it, so it stays.
  const std::string logPath = dir_.file("state/pilvo-agent.log");
  ::mkdir(dir_.file("state").c_str(), 0700);
  pilvo::testing::writeFile(logPath, std::string(kLogRotateBytes + 1, '\n'));
  Logger logger(logPath, loop_, nullptr);
  const int status = runAgent(
      loop_, logger, paths_,
      [&](std::string*) -> std::unique_ptr<AgentPlatform> {
        connected = true;
        return std::make_unique<FakeAgentPlatform>(loop_);
      },
      4242);
  EXPECT_EQ(status, kExitAlreadyRunning);
  EXPECT_FALSE(connected);
  const std::string text = pilvo::testing::readFile(logPath);
  ASSERT_GT(text.size(), static_cast<size_t>(kLogRotateBytes + 1));
  EXPECT_EQ(test::logMessages(text.substr(kLogRotateBytes + 1)),
            (std::vector<std::string>{"PilvoAgent starting (pid 4242)",
                                      "Another pilvo-agent is already running (pid 777); exiting"}));
  EXPECT_EQ(pilvo::testing::fileMode(paths_.supportDir + "/agent_events.db"), -1);
  EXPECT_EQ(pilvo::testing::fileMode(logPath + ".1"), -1);

  // Released (as by the first agent's end, however it ends): the next one
  // runs, and starts a fresh log.
  first.lock.reset();
  EXPECT_EQ(run([&](FakeAgentPlatform&) { loop_.raiseSignal(SIGTERM); }), kExitStopped);
  EXPECT_EQ(log().front(), "PilvoAgent starting (pid 4242)");
  EXPECT_EQ(pilvo::testing::readFile(logPath + ".1").size(), text.size());
  EXPECT_EQ(InstanceLock::acquire(paths_.supportDir, 1).holderPid, std::nullopt)
      << "the lock goes with the agent that held it";
}

}  // namespace
}  // namespace pilvo::agent
