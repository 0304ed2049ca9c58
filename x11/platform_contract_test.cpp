#include "x11/platform_contract.h"

namespace pilvo::testing {
namespace {

struct Notification {
  ElementRef element;
  std::string name;
};

AccessibilityCallback collect(std::vector<Notification>* out, std::string_view only = {}) {
  return [out, only](ElementRef element, std::string_view name) {
    if (only.empty() || name == only) out->push_back({element, std::string(name)});
  };
}

TEST_P(PlatformContractTest, ActivationOnlyWhenAnotherApplicationComesToTheFront) {
  auto driver = GetParam()();
  const uint64_t a1 = driver->openWindow("contract-a", "A one");
  const uint64_t a2 = driver->openWindow("contract-a", "A two");
  const uint64_t b1 = driver->openWindow("contract-b", "B one");
  driver->focus(b1);
  WorkspaceRecorder recorder(driver->workspace());

  driver->focus(a1);
  ASSERT_EQ(recorder.activated.size(), 1u);
  const RunningApp a = recorder.activated[0];
  EXPECT_EQ(a.bundleId, "contract-a");
  EXPECT_GT(a.pid, 0);
  EXPECT_TRUE(driver->workspace().frontmostApplication().value_or(RunningApp{}).sameApplication(a));
  EXPECT_EQ(driver->accessibility().focusedWindowTitle(a), "A one");

  // Same application, other window: not an activation, but a focused-window change.
  std::vector<Notification> seen;
  auto observer = driver->accessibility().createObserver(a, collect(&seen));
  ASSERT_NE(observer, nullptr);
  driver->focus(a2);
  EXPECT_EQ(recorder.activated.size(), 1u);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].element, a2);
  EXPECT_EQ(seen[0].name, kFocusedWindowChanged);
  EXPECT_EQ(driver->accessibility().titleOf(seen[0].element), "A two");
  EXPECT_EQ(driver->accessibility().focusedWindowTitle(a), "A two");

  driver->focus(b1);
  ASSERT_EQ(recorder.activated.size(), 2u);
  EXPECT_EQ(recorder.activated[1].bundleId, "contract-b");
  EXPECT_EQ(seen.size(), 1u) << "focus leaving the application is not its focus change";
}

TEST_P(PlatformContractTest, EachRenameOfAnObservedWindowIsOneTitleChange) {
  auto driver = GetParam()();
  const uint64_t a1 = driver->openWindow("contract-a", "start");
  const uint64_t b1 = driver->openWindow("contract-b", "other");
  driver->focus(a1);
  const auto a = driver->workspace().frontmostApplication();
  ASSERT_TRUE(a);
  // Only title changes: a window manager may also move focus to a new window.
  std::vector<Notification> seen;
  auto observer = driver->accessibility().createObserver(*a, collect(&seen, kTitleChanged));
  ASSERT_NE(observer, nullptr);

  driver->rename(a1, "page 1");
  driver->rename(a1, "page 1");  // the same title again is another change
  driver->rename(b1, "not observed");
  driver->rename(a1, "bad \xff bytes");
  ASSERT_TRUE(driver->settle([&] { return seen.size() >= 3; }));
  driver->settle();
  ASSERT_EQ(seen.size(), 3u);
  for (const Notification& n : seen) {
    EXPECT_EQ(n.element, a1);
    EXPECT_EQ(n.name, kTitleChanged);
  }
  EXPECT_EQ(driver->accessibility().titleOf(a1), "bad \xEF\xBF\xBD bytes");

  // A window the application opens later is observed too.
  const uint64_t a2 = driver->openWindow("contract-a", "late");
  driver->rename(a2, "late renamed");
  ASSERT_TRUE(driver->settle([&] { return seen.size() >= 4; }));
  EXPECT_EQ(seen.back().element, a2);

  // Destroying the observer detaches it.
  observer.reset();
  driver->rename(a1, "after detach");
  driver->settle();
  EXPECT_EQ(seen.size(), 4u);
}

// A process is not an application: one process may serve several (office
// suites, web-app windows), one application may span several (terminals,
// browser profiles).
TEST_P(PlatformContractTest, ApplicationsAreNotProcesses) {
  auto driver = GetParam()();
  const uint64_t a1 = driver->openWindow("contract-a", "A");
  driver->openWindow("contract-b", "B");  // same process as A
  const uint64_t t1 = driver->openWindowInOwnProcess("contract-t", "term one");
  const uint64_t t2 = driver->openWindowInOwnProcess("contract-t", "term two");
  driver->focus(t1);
  WorkspaceRecorder recorder(driver->workspace());
  const auto t = driver->workspace().frontmostApplication();
  ASSERT_TRUE(t);
  std::vector<Notification> seen;
  auto observer = driver->accessibility().createObserver(*t, collect(&seen, kFocusedWindowChanged));
  ASSERT_NE(observer, nullptr);
  driver->focus(t2);
  driver->focus(t1);
  EXPECT_TRUE(recorder.activated.empty()) << "moving between the terminals is no switch";
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].element, t2);
  EXPECT_EQ(driver->accessibility().titleOf(seen[0].element), "term two");
  EXPECT_EQ(seen[1].element, t1);

  driver->focus(a1);
  ASSERT_EQ(recorder.activated.size(), 1u);
  const RunningApp a = recorder.activated[0];
  EXPECT_EQ(a.bundleId, "contract-a");
  driver->closeApp("contract-b");
  ASSERT_TRUE(driver->settle([&] { return !recorder.terminated.empty(); }));
  driver->settle();
  ASSERT_EQ(recorder.terminated.size(), 1u);
  EXPECT_EQ(recorder.terminated[0].bundleId, "contract-b");
  EXPECT_FALSE(recorder.terminated[0].sameApplication(a)) << "A lives on in the shared process";
}

TEST_P(PlatformContractTest, ClosingAnApplicationTerminatesItOnce) {
  auto driver = GetParam()();
  const uint64_t a1 = driver->openWindow("contract-a", "A");
  const uint64_t b1 = driver->openWindow("contract-b", "B");
  driver->focus(a1);
  WorkspaceRecorder recorder(driver->workspace());
  driver->closeApp("contract-b");
  ASSERT_TRUE(driver->settle([&] { return !recorder.terminated.empty(); }));
  driver->settle();
  ASSERT_EQ(recorder.terminated.size(), 1u);
  EXPECT_EQ(recorder.terminated[0].bundleId, "contract-b");
  EXPECT_EQ(driver->accessibility().titleOf(b1), std::nullopt) << "the window is gone";
  EXPECT_TRUE(recorder.activated.empty())
      << "first activation: " << recorder.activated.front().bundleId.value_or("(none)");
}

}  // namespace
}  // namespace pilvo::testing
