// Seconds since the last input in a Wayland session, from the compositor's
// idle notifications (ext_idle_notifier_v1, else org_kde_kwin_idle).
//
// The compositor tells us when `timeout` seconds have passed without input
// ("idled") and when input comes again ("resumed"); it does not say which
// kind of input, and it counts every kind, scrolling and other buttons
// included. So every InputKind reads the same value:
// - while idle: the time since "idled" plus the timeout (the last input was
//   `timeout` before "idled");
// - otherwise 0: there was input within the last `timeout` seconds, which is
//   all a caller comparing against a longer threshold needs.
// Before the first notification the start counts as the last input.
//
// Cost: the compositor wakes us at most twice per pause longer than the
// timeout; nothing runs on a timer.
#pragma once

#include <functional>

#include "agent/agent_platform.h"

namespace pilvo::wayland {

class WaylandInputIdleness final : public InputIdleness {
 public:
  // Monotonic seconds; the default reads the system's monotonic clock.
  using MonotonicClock = std::function<double()>;
  static constexpr double kDefaultTimeoutSeconds = 10.0;

  explicit WaylandInputIdleness(double timeoutSeconds = kDefaultTimeoutSeconds,
                                MonotonicClock clock = {});

  double secondsSinceLastEvent(InputKind kind) override;
  void forgetInputSoFar() override;

  // From the compositor's notification.
  void idled();
  void resumed();
  // No idle protocol is offered: every value stays 0 (never idle).
  void setAvailable(bool available) { available_ = available; }

 private:
  double timeout_;
  MonotonicClock clock_;
  bool available_ = true;
  bool idle_ = false;
  double idledAt_ = 0;
  // Input before this moment no longer counts (forgetInputSoFar); active
  // until input after it is seen.
  bool forgotten_ = false;
  double forgottenAt_ = 0;
};

}  // namespace pilvo::wayland
