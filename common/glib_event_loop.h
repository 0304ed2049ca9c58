// EventLoop on a GLib main context (the default one unless told otherwise).
#pragma once

#include <glib.h>

#include "common/event_loop.h"

namespace pilvo {

class GlibEventLoop final : public EventLoop {
 public:
  // `context` nullptr means the thread-default main context.
  explicit GlibEventLoop(GMainContext* context = nullptr);
  ~GlibEventLoop() override;
  GlibEventLoop(const GlibEventLoop&) = delete;
  GlibEventLoop& operator=(const GlibEventLoop&) = delete;

  std::chrono::system_clock::time_point now() const override;
  std::unique_ptr<EventSource> addTimer(double intervalSeconds, bool repeating,
                                        std::function<void()> callback) override;
  std::unique_ptr<EventSource> addSignal(int signum, std::function<void()> callback) override;
  std::unique_ptr<EventSource> addFd(int fd, IoCondition conditions,
                                     std::function<bool(IoCondition)> callback) override;
  void post(std::function<void()> fn) override;
  void run() override;
  void quit() override;

  GMainContext* context() const { return context_; }

 private:
  GMainContext* context_;
  GMainLoop* loop_;
};

}  // namespace pilvo
