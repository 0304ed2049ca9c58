// The agent's log: "[" timestamp "] " message, one line per call, to the log
// file (appended across runs) and to standard error. Control characters in a
// message are escaped, so text that any X client can set (window classes,
// titles) never starts a line of its own.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "common/event_loop.h"

namespace pilvo::agent {

class Logger {
 public:
  // Opens `path` for appending, creating it (0600) and its directory (0700)
  // when missing; an existing directory keeps its mode. When that fails the
  // logger writes to `err` only.
  Logger(const std::string& path, const Clock& clock, std::FILE* err = stderr);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Never fails towards the caller: a failed file write (a full disk) still
  // leaves the line on standard error.
  void log(std::string_view message);

  bool hasFile() const { return fd_ >= 0; }

  // When the log is larger than kLogRotateBytes: it becomes `path`.1
  // (replacing an older one) and a fresh log starts. Only the one running
  // agent may do this: another would move the log from under it.
  void rotateIfLarge();

  // `message` with C0 controls and DEL as \n, \r, \t or \xNN, and C1
  // controls and the Unicode line and paragraph separators as \uNNNN.
  static std::string escapeControls(std::string_view message);

 private:
  const Clock& clock_;
  std::FILE* err_;
  const std::string path_;
  int fd_ = -1;
};

}  // namespace pilvo::agent
