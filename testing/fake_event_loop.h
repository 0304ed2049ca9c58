// EventLoop with a virtual clock. Nothing runs until the test says so:
// runUntilIdle() drains posted work, advance(seconds) moves virtual time and
// fires every timer that falls due on the way, in time order.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "common/event_loop.h"

namespace pilvo::testing {

class FakeEventLoop final : public EventLoop {
 public:
  // Virtual wall-clock start: 2025-03-04T09:05:07Z unless set.
  FakeEventLoop();
  ~FakeEventLoop() override;

  std::chrono::system_clock::time_point now() const override { return wallNow_; }
  std::unique_ptr<EventSource> addTimer(double intervalSeconds, bool repeating,
                                        std::function<void()> callback) override;
  std::unique_ptr<EventSource> addSignal(int signum, std::function<void()> callback) override;
  std::unique_ptr<EventSource> addFd(int fd, IoCondition conditions,
                                     std::function<bool(IoCondition)> callback) override;
  void post(std::function<void()> fn) override;
  // Drains posted work, then runs the hook set with setRunHook (the test's
  // script for "while the loop runs"); never blocks.
  void run() override;
  void quit() override {}

  // Test controls.
  void setRunHook(std::function<void()> hook) { runHook_ = std::move(hook); }
  void runUntilIdle();
  void advance(double seconds);
  void raiseSignal(int signum);
  size_t activeTimerCount() const;
  double elapsed() const { return virtualSeconds_; }

 private:
  struct Timer;
  struct Watch;
  class Handle;
  friend class Handle;

  std::chrono::system_clock::time_point wallNow_;
  double virtualSeconds_ = 0;
  uint64_t nextId_ = 1;
  std::map<uint64_t, std::shared_ptr<Timer>> timers_;
  std::map<uint64_t, std::shared_ptr<Watch>> signals_;
  std::map<uint64_t, std::shared_ptr<Watch>> fds_;
  mutable std::mutex postedMutex_;
  std::deque<std::function<void()>> posted_;
  std::function<void()> runHook_;
  std::shared_ptr<bool> alive_;
};

}  // namespace pilvo::testing
