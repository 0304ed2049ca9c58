// The Wayland platform against a real wlroots compositor (headless sway from
// scripts/with-sway-session.sh): idle notifications that follow synthetic
// input (wtype's virtual keyboard), focus and titles of native windows, and
// activation through the toplevel handle. Skips where sway is not installed.
#include "wayland/wayland_platform.h"

#include <glib.h>
#include <gtest/gtest.h>

#include "common/glib_event_loop.h"
#include "testing/sway_session.h"
#include "testing/temp_dir.h"
#include "testing/wait.h"

namespace pilvo::wayland {
namespace {

using pilvo::testing::pumpUntil;
using pilvo::testing::FootWindow;

class WaylandPlatformTest : public ::testing::Test {
 protected:
  static constexpr double kIdleTimeout = 0.3;

  void SetUp() override {
    if (const std::string missing = pilvo::testing::swaySessionMissing(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    std::string error;
    platform_ = WaylandPlatform::open(loop_, &error, "", kIdleTimeout);
    ASSERT_TRUE(platform_) << error;
  }

  // Runs the loop until `done` holds (bounded).
  std::string frontId() {
    const std::optional<RunningApp> app = platform_->workspace().frontmostApplication();
    return app && app->bundleId ? *app->bundleId : "";
  }

  pilvo::testing::TempDir dir_;
  GlibEventLoop loop_;
  std::unique_ptr<WaylandPlatform> platform_;
};

TEST_F(WaylandPlatformTest, IdleNotificationsFollowInputOfEveryKind) {
  EXPECT_NE(platform_->idleProtocolName(), "none");
  InputIdleness& idleness = platform_->idleness();
  ASSERT_TRUE(pumpUntil([&] { return idleness.secondsSinceLastEvent(InputKind::kKeyDown) > 0; }))
      << "no idle notification after " << kIdleTimeout << " s without input";
  const double idle = idleness.secondsSinceLastEvent(InputKind::kMouseMoved);
  EXPECT_GE(idle, kIdleTimeout);
  EXPECT_LT(idle, 5.0);

  ASSERT_EQ(pilvo::testing::shellStatus("wtype -k Shift_L"), 0);
  EXPECT_TRUE(pumpUntil([&] { return idleness.secondsSinceLastEvent(InputKind::kKeyDown) == 0; }))
      << "a key press (even a modifier: the compositor counts every input) did not end idleness";
  EXPECT_TRUE(pumpUntil([&] { return idleness.secondsSinceLastEvent(InputKind::kKeyDown) > 0; }))
      << "idle again after the next pause";
}

TEST_F(WaylandPlatformTest, FocusTitlesAndActivationFollowTheCompositor) {
  FootWindow one(dir_.path(), "pilvo.test.One", "first");
  ASSERT_TRUE(one.waitShown());
  FootWindow two(dir_.path(), "pilvo.test.Two", "second");
  ASSERT_TRUE(two.waitShown());
  ASSERT_TRUE(pumpUntil([&] { return frontId() == "pilvo.test.Two"; }));

  ASSERT_TRUE(one.focus());
  ASSERT_TRUE(pumpUntil([&] { return frontId() == "pilvo.test.One"; }));
  const RunningApp front = *platform_->workspace().frontmostApplication();
  EXPECT_EQ(front.pid, 0) << "Wayland gives no process ids";
  EXPECT_EQ(platform_->accessibility().focusedWindowTitle(front), "first");
  one.setTitle("renamed");
  EXPECT_TRUE(
      pumpUntil([&] { return platform_->accessibility().titleOf(front.window) == "renamed"; }));

  // Activation as the tracking channel does it: the toplevel's request on our seat.
  std::optional<RunningApp> other;
  for (const RunningApp& app : platform_->connection().toplevels().runningApplications()) {
    if (app.bundleId == "pilvo.test.Two") other = app;
  }
  ASSERT_TRUE(other);
  ASSERT_TRUE(platform_->connection().activate(other->window));
  EXPECT_TRUE(pumpUntil([] { return pilvo::testing::swayFocusedAppId() == "pilvo.test.Two"; }));
  EXPECT_TRUE(pumpUntil([&] { return frontId() == "pilvo.test.Two"; }));

  two.close();
  EXPECT_TRUE(
      pumpUntil([&] { return platform_->connection().toplevels().toplevelsOf(*other).empty(); }));
  EXPECT_FALSE(platform_->connection().activate(other->window)) << "a closed toplevel";
}

}  // namespace
}  // namespace pilvo::wayland
