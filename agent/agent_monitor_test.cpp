#include "agent/agent_monitor.h"

#include <gtest/gtest.h>

#include "agent/agent_test_support.h"
#include "testing/fake_accessibility.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_input_idleness.h"
#include "testing/fake_workspace.h"
#include "testing/temp_dir.h"

namespace pilvo::agent {
namespace {

using test::EventRow;
using test::logMessages;
using test::readEvents;
using pilvo::testing::fileMode;

RunningApp app(const char* id, int32_t pid) { return RunningApp{std::string(id), std::nullopt, pid}; }
RunningApp anonymous(int32_t pid) { return RunningApp{std::nullopt, std::nullopt, pid}; }
std::optional<std::string> s(const char* v) { return std::string(v); }

class AgentMonitorTest : public ::testing::Test {
 protected:
  void start() {
    monitor_ = std::make_unique<AgentMonitor>(
        db_, AgentMonitor::Platform{workspace_, idleness_, accessibility_}, loop_, logger_,
        dir_.path());
    monitor_->start();
  }
  std::vector<EventRow> rows() { return readEvents(db_.dbPath()); }
  std::vector<std::string> log() {
    return logMessages(pilvo::testing::readFile(dir_.file("agent.log")));
  }
  bool flagPresent() { return fileMode(dir_.file(".ax_trusted")) >= 0; }

  pilvo::testing::TempDir dir_;
  pilvo::testing::FakeEventLoop loop_;
  Logger logger_{dir_.file("agent.log"), loop_, nullptr};
  AgentDatabase db_{dir_.path(), logger_, loop_};
  pilvo::testing::FakeWorkspace workspace_;
  pilvo::testing::FakeInputIdleness idleness_{&loop_};
  pilvo::testing::FakeAccessibility accessibility_;
  std::unique_ptr<AgentMonitor> monitor_;
};

TEST_F(AgentMonitorTest, StartRecordsTheFrontmostApplicationAndSwitchesOnlyOnChange) {
  accessibility_.setFocusedTitle(app("org.mail", 10), s("inbox"));
  workspace_.setFrontmost(app("org.mail", 10));
  start();
  workspace_.emitActivation(app("org.mail", 10));  // same app again: no row
  workspace_.emitActivation(app("org.editor", 11));
  workspace_.emitActivation(anonymous(12));
  workspace_.emitActivation(anonymous(13));  // two apps without id give one "unknown" row
  EXPECT_EQ(rows(), (std::vector<EventRow>{{"appSwitch", s("org.mail"), s("inbox")},
                                           {"appSwitch", s("org.editor"), std::nullopt},
                                           {"appSwitch", s("unknown"), std::nullopt}}));
  auto lines = log();
  const std::vector<std::string> head(lines.begin() + 1, lines.begin() + 4);
  EXPECT_EQ(head, (std::vector<std::string>{"Starting app monitor", "appSwitch: org.mail",
                                            "Monitor started (AX permission: yes)"}));
  EXPECT_TRUE(flagPresent());
}

TEST_F(AgentMonitorTest, IdleAndActiveTransitionsFollowTheThreeInputKinds) {
  start();  // nothing frontmost: no row, so the idle row has no application
  loop_.advance(299);
  EXPECT_TRUE(rows().empty());
  // Exactly 300 s counts as idle; the check runs every 30 s, so the row comes at 300.
  loop_.advance(1);
  EXPECT_EQ(rows(), (std::vector<EventRow>{{"idle", std::nullopt, std::nullopt}}));
  EXPECT_EQ(log().back(), "User went idle (300s)");
  loop_.advance(600);  // a long idle period stays one row
  EXPECT_EQ(rows().size(), 1u);

  workspace_.emitActivation(app("org.editor", 11));  // activations are recorded while idle
  idleness_.input(InputKind::kLeftMouseDown);
  loop_.advance(30);
  EXPECT_EQ(rows().back(), (EventRow{"active", s("org.editor"), std::nullopt}));
  EXPECT_EQ(log().back(), "User returned from idle");

  // Scrolling is not one of the three kinds: ten minutes of it is idle.
  loop_.advance(600);
  EXPECT_EQ(rows().back(), (EventRow{"idle", s("org.editor"), std::nullopt}));
  EXPECT_EQ(rows().size(), 4u);
  idleness_.input(InputKind::kKeyDown);
  loop_.advance(30);
  EXPECT_EQ(rows().back().type, "active");
}

TEST_F(AgentMonitorTest, IdleSecondsAreTruncatedInTheLog) {
  idleness_.setAllSecondsSince(282.7);
  start();
  loop_.advance(30);
  EXPECT_EQ(log().back(), "User went idle (312s)");
}

TEST_F(AgentMonitorTest, PruneRunsOncePerDayAndNotAtStart) {
  start();
  db_.exec("INSERT INTO events (timestamp, type, synced) VALUES ('2000-01-01T00:00:00Z', 'idle', 1)");
  loop_.advance(86399);
  EXPECT_EQ(rows().size(), 2u);  // plus the idle row of the untouched day
  loop_.advance(1);
  EXPECT_EQ(rows().size(), 1u);
}

TEST_F(AgentMonitorTest, TitleNotificationsOfTheObservedApplicationBecomeRows) {
  accessibility_.setTitle(100, s("page 1"));
  accessibility_.setTitle(101, std::nullopt);
  workspace_.setFrontmost(app("org.browser", 20));
  start();
  EXPECT_EQ(accessibility_.observedIds(), std::vector{s("org.browser")});
  accessibility_.emitNotificationFor(app("org.browser", 20), 100, kTitleChanged);
  // A repeat is a row too, and so is a change in another process of the application.
  accessibility_.emitNotificationFor(app("org.browser", 22), 100, kTitleChanged);
  accessibility_.emitNotificationFor(app("org.browser", 20), 101, kFocusedWindowChanged);
  accessibility_.emitNotificationFor(app("org.other", 20), 100, kTitleChanged);  // not observed
  EXPECT_EQ(rows(), (std::vector<EventRow>{{"appSwitch", s("org.browser"), std::nullopt},
                                           {"windowChange", s("org.browser"), s("page 1")},
                                           {"windowChange", s("org.browser"), s("page 1")},
                                           {"windowChange", s("org.browser"), std::nullopt}}));
}

TEST_F(AgentMonitorTest, ObserverIsReplacedAndDetachedOnlyByItsOwnApplicationsEnd) {
  workspace_.setFrontmost(app("org.a", 30));
  start();
  workspace_.emitActivation(app("org.a", 30));  // re-attached to the same app, no row
  EXPECT_EQ(accessibility_.observersCreated(), 2);
  // org.b shares its process with org.a and org.c (an office suite, say).
  workspace_.emitActivation(app("org.b", 30));
  EXPECT_EQ(accessibility_.observedIds(), std::vector{s("org.b")});
  workspace_.emitTermination(app("org.a", 30));  // another app of the same process ended
  workspace_.emitTermination(app("org.c", 30));
  EXPECT_TRUE(monitor_->hasObserver());
  accessibility_.setTitle(300, s("b renamed"));
  accessibility_.emitNotificationFor(app("org.b", 30), 300, kTitleChanged);
  EXPECT_EQ(rows().back(), (EventRow{"windowChange", s("org.b"), s("b renamed")}));
  // Its end is seen through any of its processes.
  workspace_.emitTermination(app("org.b", 31));
  EXPECT_FALSE(monitor_->hasObserver());
  EXPECT_EQ(monitor_->observedApp(), std::nullopt);
  EXPECT_EQ(rows().size(), 3u);

  accessibility_.setObserverCreationSucceeds(false);
  workspace_.emitActivation(app("org.c", 32));
  EXPECT_EQ(log().back(), "Failed to create AXObserver for pid 32");
  ASSERT_TRUE(monitor_->observedApp()) << "kept even when creation fails";
  EXPECT_EQ(monitor_->observedApp()->bundleId, s("org.c"));

  monitor_->stop();
  EXPECT_EQ(accessibility_.liveObserverCount(), 0);
  EXPECT_EQ(workspace_.observer(), nullptr);
  EXPECT_EQ(loop_.activeTimerCount(), 0u);
  EXPECT_EQ(log().back(), "Monitor stopped");
}

TEST_F(AgentMonitorTest, TrustGrantAndWithdrawalFollowThePermissionCheck) {
  accessibility_.setTrusted(false);
  accessibility_.setFocusedTitle(app("org.writer", 40), s("doc"));
  accessibility_.setTitle(400, s("doc 2"));
  workspace_.setFrontmost(app("org.writer", 40));
  start();
  EXPECT_FALSE(flagPresent());
  EXPECT_EQ(log().back(), "Monitor started (AX permission: no \u2014 app switches only)");
  EXPECT_EQ(rows(), (std::vector<EventRow>{{"appSwitch", s("org.writer"), std::nullopt}}));
  EXPECT_EQ(accessibility_.liveObserverCount(), 0);

  accessibility_.setTrusted(true);
  loop_.advance(5);
  EXPECT_EQ(log().back(), "Accessibility granted \u2014 enabling window title tracking");
  EXPECT_TRUE(flagPresent());
  EXPECT_EQ(rows().size(), 1u) << "a grant writes no row";
  accessibility_.emitNotificationFor(app("org.writer", 40), 400, kTitleChanged);
  EXPECT_EQ(rows().back(), (EventRow{"windowChange", s("org.writer"), s("doc 2")}));

  const size_t linesBefore = log().size();
  accessibility_.setTrusted(false);
  loop_.advance(5);
  EXPECT_FALSE(flagPresent());
  EXPECT_EQ(log().size(), linesBefore) << "a withdrawal logs nothing";
  EXPECT_EQ(accessibility_.liveObserverCount(), 1) << "the attached observer stays";
  workspace_.emitActivation(app("org.other", 41));
  EXPECT_EQ(accessibility_.observersCreated(), 1);
  EXPECT_EQ(rows().back(), (EventRow{"appSwitch", s("org.other"), std::nullopt}));
}

TEST_F(AgentMonitorTest, NotificationBeforeAnyRecordedApplicationWritesNothing) {
  start();
  monitor_->axCallback(1, kTitleChanged);
  EXPECT_TRUE(rows().empty());
}

}  // namespace
}  // namespace pilvo::agent
