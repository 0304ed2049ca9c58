#include "testing/fake_input_idleness.h"

namespace pilvo::testing {

FakeInputIdleness::FakeInputIdleness(const FakeEventLoop* loop) : loop_(loop) {
  setAt_.fill(now());
}

double FakeInputIdleness::now() const { return loop_ ? loop_->elapsed() : 0.0; }

double FakeInputIdleness::secondsSinceLastEvent(InputKind kind) {
  return seconds_[index(kind)] + (now() - setAt_[index(kind)]);
}

void FakeInputIdleness::setSecondsSince(InputKind kind, double seconds) {
  seconds_[index(kind)] = seconds;
  setAt_[index(kind)] = now();
}

void FakeInputIdleness::setAllSecondsSince(double seconds) {
  for (InputKind kind : {InputKind::kKeyDown, InputKind::kMouseMoved, InputKind::kLeftMouseDown}) {
    setSecondsSince(kind, seconds);
  }
}

}  // namespace pilvo::testing
