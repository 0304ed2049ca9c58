// One suite, two backends: the fake loop must keep the promises the GLib loop
// keeps, or tests written against the fake prove nothing.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <unistd.h>

#include "common/glib_event_loop.h"
#include "testing/fake_event_loop.h"

namespace pilvo {
namespace {

struct Backend {
  virtual ~Backend() = default;
  virtual EventLoop& loop() = 0;
  // Lets at least `seconds` of loop time pass, dispatching what falls due.
  virtual void pass(double seconds) = 0;
  virtual void raise(int signum) = 0;
};

struct GlibBackend : Backend {
  GMainContext* ctx = g_main_context_new();
  GlibEventLoop real{ctx};
  ~GlibBackend() override { g_main_context_unref(ctx); }
  EventLoop& loop() override { return real; }
  void pass(double seconds) override {
    const gint64 end = g_get_monotonic_time() + static_cast<gint64>(seconds * 1e6) + 20000;
    while (g_get_monotonic_time() < end) g_main_context_iteration(ctx, FALSE), g_usleep(1000);
  }
  void raise(int signum) override {
    ::raise(signum);
    pass(0.05);
  }
};

struct FakeBackend : Backend {
  testing::FakeEventLoop fake;
  EventLoop& loop() override { return fake; }
  void pass(double seconds) override { fake.advance(seconds); }
  void raise(int signum) override { fake.raiseSignal(signum); }
};

class EventLoopContractTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) backend_ = std::make_unique<GlibBackend>();
    else backend_ = std::make_unique<FakeBackend>();
  }
  std::unique_ptr<Backend> backend_;
};

TEST_P(EventLoopContractTest, TimersFireAtTheirIntervalAndStopWhenDropped) {
  int repeating = 0, once = 0;
  // Intervals are generous so that a loaded machine cannot make the real loop
  // look early or late.
  auto r = backend_->loop().addTimer(0.4, true, [&] { ++repeating; });
  auto o = backend_->loop().addTimer(0.4, false, [&] { ++once; });
  backend_->pass(0.05);
  EXPECT_EQ(repeating, 0) << "a timer first fires one interval after creation";
  backend_->pass(0.9);
  EXPECT_GE(repeating, 2);
  EXPECT_EQ(once, 1);
  r.reset();
  const int seen = repeating;
  backend_->pass(0.5);
  EXPECT_EQ(repeating, seen);
}

TEST_P(EventLoopContractTest, TimerMayDropItselfFromItsCallback) {
  int fired = 0;
  std::unique_ptr<EventSource> t;
  t = backend_->loop().addTimer(0.01, true, [&] {
    ++fired;
    t.reset();
  });
  backend_->pass(0.1);
  EXPECT_EQ(fired, 1);
}

TEST_P(EventLoopContractTest, PostedWorkRunsLaterInOrderAndFromOtherThreads) {
  std::vector<int> order;
  backend_->loop().post([&] { order.push_back(1); });
  backend_->loop().post([&] { order.push_back(2); });
  EXPECT_TRUE(order.empty()) << "post never runs the function inside the call";
  std::thread([&] { backend_->loop().post([&] { order.push_back(3); }); }).join();
  backend_->pass(0.01);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_P(EventLoopContractTest, SignalReachesTheLoopOutsideTheHandler) {
  int seen = 0;
  auto s = backend_->loop().addSignal(SIGUSR1, [&] { ++seen; });
  backend_->raise(SIGUSR1);
  EXPECT_EQ(seen, 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, EventLoopContractTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Glib" : "Fake"; });

}  // namespace
}  // namespace pilvo
