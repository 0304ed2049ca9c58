// One agent per user: an exclusive lock on a file in the support directory,
// held for the life of the process. The lock is the kernel's (flock), so it
// goes with the process however that ends; a crash leaves no stale lock, only
// the harmless file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace pilvo::agent {

class InstanceLock {
 public:
  struct Attempt {
    std::unique_ptr<InstanceLock> lock;  // set when this process holds the lock
    bool heldElsewhere = false;          // another process holds it
    std::optional<int32_t> holderPid;    // that process, when it has written its id
    std::string error;                   // neither: why the lock could not be tried
  };

  // Creates `supportDir` (private) when missing and takes the lock in it,
  // writing `pid` into the lock file. Never blocks.
  static Attempt acquire(const std::string& supportDir, int32_t pid);

  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace pilvo::agent
