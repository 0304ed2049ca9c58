// InputIdleness with values set by the test. Given a FakeEventLoop, the values
// grow with its virtual clock, so an idle period is just loop.advance(seconds).
#pragma once

#include <array>
#include <limits>

#include "agent/agent_platform.h"
#include "testing/fake_event_loop.h"

namespace pilvo::testing {

class FakeInputIdleness final : public InputIdleness {
 public:
  // Without a loop the values stay as set. With one, every kind starts at 0
  // seconds at construction and ages with the loop's virtual time.
  explicit FakeInputIdleness(const FakeEventLoop* loop = nullptr);

  double secondsSinceLastEvent(InputKind kind) override;
  void forgetInputSoFar() override { setAllSecondsSince(std::numeric_limits<double>::infinity()); }

  // Test controls.
  void setSecondsSince(InputKind kind, double seconds);
  void setAllSecondsSince(double seconds);
  // Input of `kind` happens now (0 seconds since).
  void input(InputKind kind) { setSecondsSince(kind, 0); }

 private:
  static size_t index(InputKind kind) { return static_cast<size_t>(kind); }
  double now() const;

  const FakeEventLoop* loop_;
  // Per kind: the value set and the virtual time at which it was set.
  std::array<double, 3> seconds_{};
  std::array<double, 3> setAt_{};
};

}  // namespace pilvo::testing
