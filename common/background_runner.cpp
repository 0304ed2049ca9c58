#include "common/background_runner.h"

namespace pilvo {

ThreadRunner::~ThreadRunner() {
  std::lock_guard lock(mutex_);
  for (Worker& worker : workers_) worker.thread.join();
}

void ThreadRunner::run(std::function<void()> job) {
  std::lock_guard lock(mutex_);
  // Threads that are done are joined here, so a long session does not
  // collect them.
  workers_.remove_if([](Worker& worker) {
    if (!worker.finished->load()) return false;
    worker.thread.join();
    return true;
  });
  auto finished = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([job = std::move(job), finished] {
    job();
    finished->store(true);
  });
  workers_.push_back({std::move(thread), std::move(finished)});
}

}  // namespace pilvo
