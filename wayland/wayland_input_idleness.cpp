#include "wayland/wayland_input_idleness.h"

#include <time.h>

#include <limits>

namespace pilvo::wayland {
namespace {

double monotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

WaylandInputIdleness::WaylandInputIdleness(double timeoutSeconds, MonotonicClock clock)
    : timeout_(timeoutSeconds),
      clock_(clock ? std::move(clock) : MonotonicClock(monotonicSeconds)) {}

double WaylandInputIdleness::secondsSinceLastEvent(InputKind) {
  if (!available_) return 0;
  if (forgotten_) return std::numeric_limits<double>::infinity();
  if (!idle_) return 0;
  return clock_() - idledAt_ + timeout_;
}

void WaylandInputIdleness::forgetInputSoFar() {
  forgotten_ = true;
  forgottenAt_ = clock_();
}

void WaylandInputIdleness::idled() {
  const double now = clock_();
  idle_ = true;
  idledAt_ = now;
  // The last input was `timeout` ago: if that is after the moment input was
  // forgotten, there was new input since.
  if (forgotten_ && now - timeout_ > forgottenAt_) forgotten_ = false;
}

void WaylandInputIdleness::resumed() {
  idle_ = false;
  forgotten_ = false;
}

}  // namespace pilvo::wayland
