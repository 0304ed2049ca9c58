// Suspend and resume of the machine, as the agent needs them: the monotonic
// clock behind idle time stops while the machine sleeps, so a sleep must be
// recorded when it starts. The real implementation listens to logind
// (logind_sleep_notifications.h); tests use FakeSleepNotifications.
#pragma once

#include <functional>

namespace pilvo {

class SleepNotifications {
 public:
  virtual ~SleepNotifications() = default;
  // Calls `handler(true)` just before the machine sleeps and `handler(false)`
  // once it has woken, from the loop. An empty handler stops delivery.
  virtual void setHandler(std::function<void(bool sleeping)> handler) = 0;
};

}  // namespace pilvo
