// The fakes' own behaviour that the contract suite (x11/platform_contract_test)
// cannot reach: virtual-time ageing and observer bookkeeping under re-entrancy.
#include <gtest/gtest.h>

#include "testing/fake_accessibility.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_input_idleness.h"

namespace pilvo::testing {
namespace {

TEST(FakeInputIdlenessTest, ValuesAgeWithTheVirtualClockPerKind) {
  FakeEventLoop loop;
  FakeInputIdleness idleness(&loop);
  loop.advance(100);
  idleness.input(InputKind::kKeyDown);
  idleness.setSecondsSince(InputKind::kLeftMouseDown, 1000);
  loop.advance(30);
  EXPECT_DOUBLE_EQ(idleness.secondsSinceLastEvent(InputKind::kKeyDown), 30);
  EXPECT_DOUBLE_EQ(idleness.secondsSinceLastEvent(InputKind::kMouseMoved), 130);
  EXPECT_DOUBLE_EQ(idleness.secondsSinceLastEvent(InputKind::kLeftMouseDown), 1030);
}

TEST(FakeAccessibilityTest, ObserverReplacedInsideItsOwnCallbackIsNotCalledAgain) {
  FakeAccessibility accessibility;
  std::unique_ptr<AccessibilityObserver> current;
  int calls = 0;
  RunningApp app{.bundleId = "org.example.A", .pid = 10};
  auto callback = [&](ElementRef, std::string_view) {
    ++calls;
    // What a monitor does on re-activation: replace the observer.
    current = accessibility.createObserver(app, [&](ElementRef, std::string_view) { ++calls; });
  };
  current = accessibility.createObserver(app, callback);
  EXPECT_EQ(accessibility.emitNotification(7, kTitleChanged), 1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(accessibility.liveObserverCount(), 1);
  current.reset();
  EXPECT_EQ(accessibility.liveObserverCount(), 0);
  EXPECT_EQ(accessibility.emitNotification(7, kTitleChanged), 0);
}

}  // namespace
}  // namespace pilvo::testing
