// SleepNotifications driven by the test: emitPrepareForSleep(true) is logind
// announcing a sleep, (false) the wake that follows.
#pragma once

#include <functional>

#include "agent/sleep_notifications.h"

namespace pilvo::testing {

class FakeSleepNotifications final : public SleepNotifications {
 public:
  void setHandler(std::function<void(bool sleeping)> handler) override {
    handler_ = std::move(handler);
  }

  // Test controls.
  void emitPrepareForSleep(bool sleeping) {
    if (handler_) handler_(sleeping);
  }
  bool hasHandler() const { return static_cast<bool>(handler_); }

 private:
  std::function<void(bool)> handler_;
};

}  // namespace pilvo::testing
