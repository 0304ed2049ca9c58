// How often something that keeps dying (a web process) is started again: at
// most `limit` times within any `window`. A crash loop then stops instead of
// spinning the CPU forever.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

namespace pilvo {

class RestartBudget {
 public:
  using Clock = std::chrono::steady_clock;

  RestartBudget(std::size_t limit, Clock::duration window) : limit_(limit), window_(window) {}

  // True when a restart at `now` is allowed; it is then counted.
  bool allow(Clock::time_point now) {
    while (!restarts_.empty() && now - restarts_.front() >= window_) restarts_.pop_front();
    if (restarts_.size() >= limit_) return false;
    restarts_.push_back(now);
    return true;
  }

 private:
  std::size_t limit_;
  Clock::duration window_;
  std::deque<Clock::time_point> restarts_;
};

// What the web views allow: three new starts a minute.
inline RestartBudget webProcessRestartBudget() { return RestartBudget(3, std::chrono::minutes(1)); }

}  // namespace pilvo
