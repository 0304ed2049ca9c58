// Runs jobs off the main loop. Services take one so tests can run the jobs
// inline (testing/inline_runner.h) while the fake loop orders the answers.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace pilvo {

class BackgroundRunner {
 public:
  virtual ~BackgroundRunner() = default;
  virtual void run(std::function<void()> job) = 0;
};

// One thread per job; the destructor waits for every thread it started.
class ThreadRunner final : public BackgroundRunner {
 public:
  ThreadRunner() = default;
  ~ThreadRunner() override;
  ThreadRunner(const ThreadRunner&) = delete;
  ThreadRunner& operator=(const ThreadRunner&) = delete;
  void run(std::function<void()> job) override;

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };
  std::mutex mutex_;
  std::list<Worker> workers_;
};

}  // namespace pilvo
