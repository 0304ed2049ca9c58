// The agent's log: "[" timestamp "] " message, one line per call, to the log
// file (appended across runs) and to standard error.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "common/event_loop.h"

namespace pilvo::agent {

class Logger {
 public:
  // Opens `path` for appending, creating it (0600) and its directory (0700)
  // when missing. When that fails the logger writes to `err` only.
  Logger(const std::string& path, const Clock& clock, std::FILE* err = stderr);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Never fails towards the caller: a failed file write (a full disk) still
  // leaves the line on standard error.
  void log(std::string_view message);

  bool hasFile() const { return fd_ >= 0; }

 private:
  const Clock& clock_;
  std::FILE* err_;
  int fd_ = -1;
};

}  // namespace pilvo::agent
