// The real pilvo-agent binary in a headless sway session (a real wlroots
// compositor run as an unprivileged user by scripts/with-sway-session.sh),
// with native Wayland windows (foot) whose app_id and title the test chooses;
// focus moves through swaymsg. Skips where sway is not installed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/agent_test_support.h"
#include "testing/sway_session.h"
#include "testing/temp_dir.h"
#include "testing/wait.h"

namespace pilvo::agent {
namespace {

using pilvo::testing::FootWindow;
using pilvo::testing::readFile;
using pilvo::testing::TempDir;
using pilvo::testing::waitUntil;
using test::AgentProcess;
using test::EventRow;
using test::readEvents;

std::optional<std::string> s(const char* v) { return std::string(v); }

std::string describe(const std::vector<EventRow>& rows) {
  std::string out;
  for (const auto& r : rows) {
    out += r.type + " | " + r.bundleId.value_or("NULL") + " | " + r.title.value_or("NULL") + "\n";
  }
  return out;
}

class AgentWaylandIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = pilvo::testing::swaySessionMissing(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    ::mkdir(home_.file("home").c_str(), 0700);
  }

  std::vector<std::string> env() const {
    // WAYLAND_DISPLAY, SWAYSOCK and XDG_SESSION_TYPE come from the session.
    return {"HOME=" + home_.file("home"), "XDG_DATA_HOME=" + home_.file("data"),
            "XDG_STATE_HOME=" + home_.file("state"), "DISPLAY="};
  }
  std::string dbPath() const { return home_.file("data/pilvo/agent_events.db"); }
  std::string log() const { return readFile(home_.file("state/pilvo-agent.log")); }
  std::string stderrPath() const { return home_.file("stderr.txt"); }

  std::unique_ptr<AgentProcess> startAgent(bool waitRunning = true,
                                           const std::string& path = PILVO_AGENT_PATH) {
    auto agent = std::make_unique<AgentProcess>(path, env(), stderrPath());
    if (waitRunning) {
      EXPECT_TRUE(waitUntil([&] { return log().find("entering run loop") != std::string::npos; }))
          << readFile(stderrPath());
    }
    return agent;
  }
  FootWindow& foot(const std::string& appId, const std::string& title) {
    windows_.push_back(std::make_unique<FootWindow>(home_.path(), appId, title));
    EXPECT_TRUE(windows_.back()->waitShown()) << appId << " did not show up";
    return *windows_.back();
  }
  bool rowsBecome(const std::vector<EventRow>& expected, double seconds = 5) {
    return waitUntil([&] { return readEvents(dbPath()) == expected; }, seconds);
  }
  size_t rowCount() { return readEvents(dbPath()).size(); }

  TempDir home_;
  std::vector<std::unique_ptr<FootWindow>> windows_;
};

TEST_F(AgentWaylandIntegrationTest, RecordsSwitchesTitlesAndFocusMovesOfNativeWindows) {
  FootWindow& a1 = foot("pilvo.test.Alpha", "alpha one");
  FootWindow& a2 = foot("pilvo.test.Alpha", "alpha two");
  FootWindow& b = foot("pilvo.test.Beta", "beta");
  ASSERT_TRUE(a1.focus());
  auto agent = startAgent();
  EXPECT_NE(log().find("] Desktop: Wayland ("), std::string::npos) << log();
  EXPECT_EQ(log().find("Warning: this is a Wayland session"), std::string::npos) << log();
  ASSERT_TRUE(rowsBecome({{"appSwitch", s("pilvo.test.Alpha"), s("alpha one")}}))
      << describe(readEvents(dbPath()));

  ASSERT_TRUE(b.focus());
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 2; }));
  ASSERT_TRUE(a2.focus());
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 3; }));
  ASSERT_TRUE(a1.focus());  // a move inside Alpha: a title row, not a switch
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 4; }));
  a1.setTitle("alpha renamed");
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 5; }));
  b.setTitle("beta renamed");        // not in front: no row
  a2.setTitle("alpha two renamed");  // Alpha's background window: a row
  const std::vector<EventRow> expected = {
      {"appSwitch", s("pilvo.test.Alpha"), s("alpha one")},
      {"appSwitch", s("pilvo.test.Beta"), s("beta")},
      {"appSwitch", s("pilvo.test.Alpha"), s("alpha two")},
      {"windowChange", s("pilvo.test.Alpha"), s("alpha one")},
      {"windowChange", s("pilvo.test.Alpha"), s("alpha renamed")},
      {"windowChange", s("pilvo.test.Alpha"), s("alpha two renamed")}};
  EXPECT_TRUE(rowsBecome(expected)) << describe(readEvents(dbPath()));

  // Beta closes while Alpha is in front: nothing to record. Closing Alpha's
  // front window moves the focus to its other window, which is no switch.
  b.close();
  a1.close();
  ASSERT_TRUE(waitUntil([&] { return pilvo::testing::swayFocusedAppId() == "pilvo.test.Alpha"; }));
  FootWindow& c = foot("pilvo.test.Gamma", "gamma");  // new windows take the focus
  ASSERT_TRUE(waitUntil([&] { return rowCount() > expected.size(); }));
  c.setTitle("gamma renamed");
  std::vector<EventRow> after = expected;
  after.push_back({"windowChange", s("pilvo.test.Alpha"), s("alpha two renamed")});
  after.push_back({"appSwitch", s("pilvo.test.Gamma"), s("gamma")});
  after.push_back({"windowChange", s("pilvo.test.Gamma"), s("gamma renamed")});
  EXPECT_TRUE(rowsBecome(after)) << describe(readEvents(dbPath()));

  EXPECT_EQ(agent->stop(SIGINT), 0);
  const std::string text = log();
  const size_t received = text.find("Received termination signal, shutting down\n");
  const size_t stopped = text.find("Monitor stopped\n");
  const size_t closed = text.find("Database closed\n");
  EXPECT_TRUE(received != std::string::npos && received < stopped && stopped < closed) << text;
}

TEST_F(AgentWaylandIntegrationTest, OnlyOneAgentRecordsAtATime) {
  FootWindow& a = foot("pilvo.test.Single", "single");
  ASSERT_TRUE(a.focus());
  auto first = startAgent();
  ASSERT_TRUE(rowsBecome({{"appSwitch", s("pilvo.test.Single"), s("single")}}));
  auto second = startAgent(/*waitRunning=*/false);
  EXPECT_EQ(second->waitExit(), 4);
  EXPECT_NE(log().find("Another pilvo-agent is already running (pid " +
                       std::to_string(first->pid()) + "); exiting\n"),
            std::string::npos)
      << log();
  EXPECT_EQ(rowCount(), 1u);
  EXPECT_EQ(first->stop(), 0);
}

TEST_F(AgentWaylandIntegrationTest, IdleAndActiveFollowTheCompositorsIdleNotifications) {
  // The test build: idle after 2 s without input, checked every 0.5 s.
  FootWindow& a = foot("pilvo.test.Idle", "idle");
  ASSERT_TRUE(a.focus());
  auto agent = startAgent(true, PILVO_AGENT_SHORT_IDLE_PATH);
  ASSERT_TRUE(rowsBecome({{"appSwitch", s("pilvo.test.Idle"), s("idle")},
                          {"idle", s("pilvo.test.Idle"), std::nullopt}},
                         10))
      << describe(readEvents(dbPath())) << log();
  EXPECT_NE(log().find("] User went idle (2s)\n"), std::string::npos) << log();

  // Every input counts on Wayland, a modifier key included.
  ASSERT_EQ(std::system("timeout 5 wtype -k Shift_L >/dev/null 2>&1"), 0);
  EXPECT_TRUE(rowsBecome({{"appSwitch", s("pilvo.test.Idle"), s("idle")},
                          {"idle", s("pilvo.test.Idle"), std::nullopt},
                          {"active", s("pilvo.test.Idle"), std::nullopt}},
                         5))
      << describe(readEvents(dbPath()));
  EXPECT_NE(log().find("] User returned from idle\n"), std::string::npos) << log();
  EXPECT_EQ(agent->stop(), 0);
}

// Ends the session's compositor, so ctest runs it on its own (see CMakeLists.txt).
TEST_F(AgentWaylandIntegrationTest, CompositorGoesAwayShutsDownAndAsksForARestart) {
  const char* swayPid = std::getenv("PILVO_SWAY_PID");
  if (!swayPid || std::atoi(swayPid) <= 0) GTEST_SKIP() << "PILVO_SWAY_PID is not set";
  FootWindow& a = foot("pilvo.test.Lost", "lost");
  ASSERT_TRUE(a.focus());
  auto agent = startAgent();
  ASSERT_TRUE(rowsBecome({{"appSwitch", s("pilvo.test.Lost"), s("lost")}}));
  ASSERT_EQ(kill(std::atoi(swayPid), SIGKILL), 0);
  EXPECT_EQ(agent->waitExit(), 3);
  const std::string text = log();
  const size_t lost = text.find("Lost the connection to the Wayland compositor, shutting down\n");
  const size_t stopped = text.find("Monitor stopped\n");
  const size_t closed = text.find("Database closed\n");
  EXPECT_TRUE(lost != std::string::npos && lost < stopped && stopped < closed) << text;
  EXPECT_EQ(readEvents(dbPath()).size(), 1u);
}

}  // namespace
}  // namespace pilvo::agent
