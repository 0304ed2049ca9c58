// The real `pilvo` of the build tree, for integration tests: started in the
// environment the test has set up (a private home), asked through pilvoctl,
// stopped. One still running when this goes is killed.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "testing/shell.h"

namespace pilvo::testing {

class PilvoProcess {
 public:
  // Starts build/host/pilvo; its standard error goes to `errorLog` if named.
  explicit PilvoProcess(const std::string& errorLog = {});
  ~PilvoProcess();
  PilvoProcess(const PilvoProcess&) = delete;
  PilvoProcess& operator=(const PilvoProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Where it serves its channels: $XDG_RUNTIME_DIR/pilvo/host.sock.
  const std::string& socket() const { return socket_; }
  bool running() const;
  // Waits up to `seconds` for it to end: its exit status (128 + the signal
  // when a signal ended it), or nullopt when it is still running.
  std::optional<int> waitExit(double seconds);
  // SIGTERM and waitExit(seconds); killed if it did not end by then.
  std::optional<int> stop(double seconds = 10);
  // `pilvoctl --socket SOCKET ARGS`, ARGS split as a shell splits them.
  ShellResult ctl(const std::string& args) const;

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string socket_;
};

}  // namespace pilvo::testing
