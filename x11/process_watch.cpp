#include "x11/process_watch.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace pilvo::x11 {
namespace {

#ifndef SYS_pidfd_open
constexpr long kSysPidfdOpen = 434;  // same number on every architecture
#else
constexpr long kSysPidfdOpen = SYS_pidfd_open;
#endif

class ProcessWatch final : public EventSource {
 public:
  ProcessWatch(EventLoop& loop, int fd, std::function<void()> onExit)
      : fd_(fd), onExit_(std::move(onExit)) {
    watch_ = loop.addFd(fd_, IoCondition::kRead | IoCondition::kHangup | IoCondition::kError,
                        [this](IoCondition) {
                          // Move out first: the callback may destroy this watch.
                          auto onExit = std::move(onExit_);
                          onExit_ = nullptr;
                          if (onExit) onExit();
                          return false;
                        });
  }
  ~ProcessWatch() override {
    watch_.reset();
    close(fd_);
  }

 private:
  int fd_;
  std::function<void()> onExit_;
  std::unique_ptr<EventSource> watch_;
};

}  // namespace

std::unique_ptr<EventSource> watchProcessExit(EventLoop& loop, int32_t pid,
                                              std::function<void()> onExit) {
  if (pid <= 0) return nullptr;
  const long fd = syscall(kSysPidfdOpen, static_cast<pid_t>(pid), 0U);
  if (fd < 0) return nullptr;
  return std::make_unique<ProcessWatch>(loop, static_cast<int>(fd), std::move(onExit));
}

}  // namespace pilvo::x11
