#include "wayland/wayland_input_idleness.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pilvo::wayland {
namespace {

class WaylandInputIdlenessTest : public ::testing::Test {
 protected:
  double now_ = 1000;
  WaylandInputIdleness idleness_{10.0, [this] { return now_; }};
  double read() { return idleness_.secondsSinceLastEvent(InputKind::kKeyDown); }
};

TEST_F(WaylandInputIdlenessTest, IdleTimeCountsFromTheLastInputBeforeTheNotification) {
  EXPECT_EQ(read(), 0);
  now_ += 10;
  idleness_.idled();  // the last input was 10 s ago
  now_ += 290;
  // Every kind reads the same: the compositor counts every input.
  for (InputKind kind : {InputKind::kKeyDown, InputKind::kMouseMoved, InputKind::kLeftMouseDown}) {
    EXPECT_DOUBLE_EQ(idleness_.secondsSinceLastEvent(kind), 300.0);
  }
  idleness_.resumed();
  EXPECT_EQ(read(), 0);
}

TEST_F(WaylandInputIdlenessTest, ForgottenInputReadsInfiniteUntilInputAfterTheSleep) {
  // Asleep while active: the next pause after the wake proves new input only
  // when its last input came after the forget.
  idleness_.forgetInputSoFar();
  EXPECT_TRUE(std::isinf(read()));
  now_ += 5;
  idleness_.idled();  // last input 5 s before the forget: still forgotten
  EXPECT_TRUE(std::isinf(read()));
  idleness_.resumed();
  EXPECT_EQ(read(), 0);

  idleness_.forgetInputSoFar();
  now_ += 30;
  idleness_.idled();  // last input 20 s after the forget
  EXPECT_DOUBLE_EQ(read(), 10.0);
}

TEST_F(WaylandInputIdlenessTest, WithoutAnIdleProtocolTheUserIsNeverIdle) {
  idleness_.setAvailable(false);
  idleness_.forgetInputSoFar();
  now_ += 1000;
  EXPECT_EQ(read(), 0);
}

}  // namespace
}  // namespace pilvo::wayland
