// The real pilvo-agent binary in a headless sway session (a real wlroots
// compositor run as an unprivileged user by scripts/with-sway-session.sh),
// with native Wayland windows (foot) whose app_id and title the test chooses;
// focus moves through swaymsg. Skips where sway is not installed.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/agent_test_support.h"
#include "testing/sway_session.h"
#include "testing/wait.h"

namespace pilvo::agent {
namespace {

using pilvo::testing::FootWindow;
using pilvo::testing::waitUntil;
using test::describe;
using test::EventRow;
using test::readEvents;
using test::s;
using test::shutDownInOrder;

class AgentWaylandIntegrationTest : public test::AgentFixture {
 protected:
  AgentWaylandIntegrationTest() : AgentFixture(PILVO_AGENT_PATH) {}
  void SetUp() override {
    if (const std::string missing = pilvo::testing::swaySessionMissing(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
  }

  std::vector<std::string> sessionEnv() const override {
    // WAYLAND_DISPLAY, SWAYSOCK and XDG_SESSION_TYPE come from the session.
    return {"DISPLAY="};
  }

  FootWindow& foot(const std::string& appId, const std::string& title) {
    windows_.push_back(std::make_unique<FootWindow>(home_.path(), appId, title));
    EXPECT_TRUE(windows_.back()->waitShown()) << appId << " did not show up";
    return *windows_.back();
  }
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
  EXPECT_TRUE(shutDownInOrder(text, "Received termination signal, shutting down")) << text;
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
  ASSERT_EQ(pilvo::testing::shellStatus("wtype -k Shift_L"), 0);
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
  EXPECT_TRUE(shutDownInOrder(text, "Lost the connection to the Wayland compositor, shutting down"))
      << text;
  EXPECT_EQ(readEvents(dbPath()).size(), 1u);
}

}  // namespace
}  // namespace pilvo::agent
