#include "testing/pilvo_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "testing/test_environment.h"
#include "testing/wait.h"

namespace pilvo::testing {

PilvoProcess::PilvoProcess(const std::string& errorLog)
    : socket_(envOr("XDG_RUNTIME_DIR", "") + "/pilvo/host.sock") {
  const std::string program = buildDir() + "/host/pilvo";
  if ((pid_ = fork()) == 0) {
    if (!errorLog.empty()) {
      const int fd = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) dup2(fd, STDERR_FILENO);
    }
    execl(program.c_str(), program.c_str(), nullptr);
    _exit(127);
  }
}

PilvoProcess::~PilvoProcess() {
  if (!running()) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

bool PilvoProcess::running() const { return pid_ > 0 && !status_; }

std::optional<int> PilvoProcess::waitExit(double seconds) {
  if (pid_ <= 0 || status_) return status_;
  int status = 0;
  if (waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, seconds)) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return status_;
}

std::optional<int> PilvoProcess::stop(double seconds) {
  if (running()) kill(pid_, SIGTERM);
  const std::optional<int> status = waitExit(seconds);
  if (!status && running()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  return status;
}

ShellResult PilvoProcess::ctl(const std::string& args) const {
  return runShell("'" + buildDir() + "/channels/pilvoctl' --socket '" + socket_ + "' " + args);
}

}  // namespace pilvo::testing
