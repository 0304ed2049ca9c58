#include "testing/fake_event_loop.h"

#include <stdexcept>

namespace pilvo::testing {

struct FakeEventLoop::Timer {
  double interval;
  bool repeating;
  double due;
  std::function<void()> callback;
};

struct FakeEventLoop::Watch {
  int key;  // signal number or fd
  IoCondition conditions;
  std::function<bool(IoCondition)> callback;
};

class FakeEventLoop::Handle final : public EventSource {
 public:
  Handle(FakeEventLoop* loop, std::map<uint64_t, std::shared_ptr<Timer>>* timers,
         std::map<uint64_t, std::shared_ptr<Watch>>* watches, uint64_t id)
      : alive_(loop->alive_), timers_(timers), watches_(watches), id_(id) {}
  ~Handle() override {
    if (!*alive_) return;  // the loop went first
    if (timers_) timers_->erase(id_);
    if (watches_) watches_->erase(id_);
  }

 private:
  std::shared_ptr<bool> alive_;
  std::map<uint64_t, std::shared_ptr<Timer>>* timers_;
  std::map<uint64_t, std::shared_ptr<Watch>>* watches_;
  uint64_t id_;
};

FakeEventLoop::FakeEventLoop()
    : wallNow_(std::chrono::system_clock::from_time_t(1741079107)),  // 2025-03-04T09:05:07Z
      alive_(std::make_shared<bool>(true)) {}

FakeEventLoop::~FakeEventLoop() { *alive_ = false; }

std::unique_ptr<EventSource> FakeEventLoop::addTimer(double intervalSeconds, bool repeating,
                                                     std::function<void()> callback) {
  const uint64_t id = nextId_++;
  timers_[id] = std::make_shared<Timer>(
      Timer{intervalSeconds, repeating, virtualSeconds_ + intervalSeconds, std::move(callback)});
  return std::make_unique<Handle>(this, &timers_, nullptr, id);
}

std::unique_ptr<EventSource> FakeEventLoop::addSignal(int signum, std::function<void()> callback) {
  const uint64_t id = nextId_++;
  signals_[id] = std::make_shared<Watch>(Watch{signum, IoCondition::kRead,
                                               [cb = std::move(callback)](IoCondition) {
                                                 cb();
                                                 return true;
                                               }});
  return std::make_unique<Handle>(this, nullptr, &signals_, id);
}

std::unique_ptr<EventSource> FakeEventLoop::addFd(int fd, IoCondition conditions,
                                                  std::function<bool(IoCondition)> callback) {
  const uint64_t id = nextId_++;
  fds_[id] = std::make_shared<Watch>(Watch{fd, conditions, std::move(callback)});
  return std::make_unique<Handle>(this, nullptr, &fds_, id);
}

void FakeEventLoop::post(std::function<void()> fn) {
  std::lock_guard lock(postedMutex_);
  posted_.push_back(std::move(fn));
}

void FakeEventLoop::run() {
  runUntilIdle();
  if (runHook_) runHook_();
}

void FakeEventLoop::runUntilIdle() {
  for (;;) {
    std::function<void()> fn;
    {
      std::lock_guard lock(postedMutex_);
      if (posted_.empty()) return;
      fn = std::move(posted_.front());
      posted_.pop_front();
    }
    fn();
  }
}

void FakeEventLoop::advance(double seconds) {
  const double target = virtualSeconds_ + seconds;
  runUntilIdle();
  for (;;) {
    // Earliest due timer within the window; ties fire in creation order.
    uint64_t nextId = 0;
    double nextDue = target;
    for (const auto& [id, timer] : timers_) {
      if (timer->due <= nextDue && (nextId == 0 || timer->due < nextDue)) {
        nextId = id;
        nextDue = timer->due;
      }
    }
    if (nextId == 0) break;
    const auto step = std::chrono::duration<double>(nextDue - virtualSeconds_);
    wallNow_ += std::chrono::duration_cast<std::chrono::system_clock::duration>(step);
    virtualSeconds_ = nextDue;
    std::shared_ptr<Timer> timer = timers_[nextId];
    if (timer->repeating) {
      timer->due += timer->interval > 0 ? timer->interval : 1e-9;
    } else {
      timers_.erase(nextId);
    }
    timer->callback();
    runUntilIdle();
  }
  const auto step = std::chrono::duration<double>(target - virtualSeconds_);
  wallNow_ += std::chrono::duration_cast<std::chrono::system_clock::duration>(step);
  virtualSeconds_ = target;
}

void FakeEventLoop::raiseSignal(int signum) {
  for (auto& [id, watch] : std::map(signals_)) {
    if (watch->key == signum) watch->callback(IoCondition::kRead);
  }
  runUntilIdle();
}

size_t FakeEventLoop::activeTimerCount() const { return timers_.size(); }

}  // namespace pilvo::testing
