// The loop and clock every long-running part of Pilvo is written against.
//
// Sources are RAII handles: dropping the handle cancels the timer, signal
// watch or fd watch. The real backend is the GLib main loop (glib_event_loop.h);
// tests use FakeEventLoop from the test-support library, whose virtual clock
// makes timer-driven behaviour instant and deterministic.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace pilvo {

// Wall-clock time: what a timestamp written to disk or a log is made from.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::system_clock::time_point now() const = 0;
};

// A registered timer, signal watch or fd watch. Destroying it unregisters it.
class EventSource {
 public:
  virtual ~EventSource() = default;
};

enum class IoCondition : unsigned {
  kRead = 1u << 0,
  kWrite = 1u << 1,
  kHangup = 1u << 2,
  kError = 1u << 3,
};
constexpr IoCondition operator|(IoCondition a, IoCondition b) {
  return static_cast<IoCondition>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool hasCondition(IoCondition set, IoCondition flag) {
  return (static_cast<unsigned>(set) & static_cast<unsigned>(flag)) != 0;
}

class EventLoop : public Clock {
 public:
  // Calls `callback` every `intervalSeconds` (repeating) or once, first one
  // interval after the call.
  virtual std::unique_ptr<EventSource> addTimer(double intervalSeconds, bool repeating,
                                                std::function<void()> callback) = 0;

  // Watches a POSIX signal; the callback runs on the loop in ordinary thread
  // context, never inside the signal handler.
  virtual std::unique_ptr<EventSource> addSignal(int signum, std::function<void()> callback) = 0;

  // Watches a file descriptor. The callback returns false to stop watching.
  virtual std::unique_ptr<EventSource> addFd(int fd, IoCondition conditions,
                                             std::function<bool(IoCondition)> callback) = 0;

  // Runs `fn` on the loop as soon as possible. Safe to call from any thread.
  virtual void post(std::function<void()> fn) = 0;

  // Runs until quit() is called.
  virtual void run() = 0;
  virtual void quit() = 0;
};

}  // namespace pilvo
