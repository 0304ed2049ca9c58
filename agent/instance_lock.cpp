#include "agent/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "agent/constants.h"
#include "common/private_files.h"

namespace pilvo::agent {

InstanceLock::Attempt InstanceLock::acquire(const std::string& supportDir, int32_t pid) {
  Attempt attempt;
  if (std::string error = makePrivateDirectory(supportDir); !error.empty()) {
    attempt.error = std::move(error);
    return attempt;
  }
  const std::string path = supportDir + "/" + kLockFileName;
  const int fd = openPrivateFile(path, O_RDWR | O_CREAT | O_NOFOLLOW);
  if (fd < 0) {
    attempt.error = "Could not open the lock file \"" + path + "\": " + std::strerror(errno);
    return attempt;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EWOULDBLOCK) {
      attempt.heldElsewhere = true;
      char text[16] = {};
      if (pread(fd, text, sizeof text - 1, 0) > 0) {
        char* end = nullptr;
        const long holder = std::strtol(text, &end, 10);
        if (end != text && holder > 0 && holder <= INT32_MAX) {
          attempt.holderPid = static_cast<int32_t>(holder);
        }
      }
    } else {
      attempt.error = "Could not lock \"" + path + "\": " + std::strerror(err);
    }
    ::close(fd);
    return attempt;
  }
  // The holder's id, for the message of the next agent that tries.
  const std::string text = std::to_string(pid) + "\n";
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    // The lock holds without the id; a second agent then names no pid.
  }
  attempt.lock.reset(new InstanceLock(fd));
  return attempt;
}

InstanceLock::~InstanceLock() { ::close(fd_); }

}  // namespace pilvo::agent
