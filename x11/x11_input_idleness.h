// Seconds since the last key press, pointer motion and left-button press,
// from XInput 2 raw events on the root window (XI 2.1 or later).
//
// Counted: XI_RawKeyPress of a non-modifier key; XI_RawMotion that moves a
// non-scroll valuator (a wheel or a two-finger scroll moves only scroll
// valuators); XI_RawButtonPress of button 1. Not counted: scrolling (buttons
// 4-7, scroll valuators), other buttons, releases, modifier keys.
//
// Before the first input seen, the X server's own idle counter (MIT-SCREEN-SAVER)
// is the starting point, so a start while the user is away counts the time
// before the start. It counts every kind of input, so it never makes the user
// look idler than the raw events would.
//
// Cost: only those raw events plus device-hierarchy changes are selected, on
// the root window only; each event stores a timestamp. Nothing runs on a timer.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "agent/agent_platform.h"
#include "x11/x_connection.h"

namespace pilvo::x11 {

// Whether a raw motion event with valuator `mask` moves the pointer: it does
// when it moves any valuator that is not one of `scrollValuators`.
bool isPointerMotion(const std::set<int>& scrollValuators, const unsigned char* mask,
                     int maskLength);

class X11InputIdleness final : public InputIdleness {
 public:
  // Monotonic seconds; the default reads the system's monotonic clock.
  using MonotonicClock = std::function<double()>;

  explicit X11InputIdleness(XConnection& connection, MonotonicClock clock = {});
  ~X11InputIdleness() override;

  // Before any input of a kind: the server's idle time when this object was
  // created plus the time since (without the screen-saver extension: the time
  // since creation). Without XInput 2.1 nothing is seen and every value stays
  // 0 (never idle).
  double secondsSinceLastEvent(InputKind kind) override;
  // Until the next input of a kind, that kind reads infinite.
  void forgetInputSoFar() override;

  bool available() const { return available_; }
  // Why raw input is not available; empty when it is.
  const std::string& problem() const { return problem_; }
  // Raw events received (for the benchmark).
  uint64_t rawEventsSeen() const { return rawEventsSeen_; }

 private:
  void onEvent(XEvent& event);
  void refreshDevices();
  void refreshModifiers();
  const std::set<int>& scrollValuatorsOf(int deviceId, int sourceId) const;

  XConnection& connection_;
  MonotonicClock clock_;
  bool available_ = false;
  std::string problem_;
  int opcode_ = -1;
  std::array<double, 3> last_{};
  // Per device id: the valuator numbers that scroll.
  std::map<int, std::set<int>> scrollValuators_;
  std::set<int> modifierKeycodes_;
  uint64_t rawEventsSeen_ = 0;
  std::unique_ptr<EventSource> handler_;
};

}  // namespace pilvo::x11
