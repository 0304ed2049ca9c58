// Shell commands for integration tests: the output and the exit status of
// `sh -c COMMAND`, standard error discarded.
#pragma once

#include <optional>
#include <string>

namespace pilvo::testing {

struct ShellResult {
  std::string output;
  int status = -1;  // the exit status; -1 when it could not run or was killed
  bool ok() const { return status == 0; }
};

ShellResult runShell(const std::string& command);

// The output of a command that succeeded; nullopt otherwise.
inline std::optional<std::string> shellOutputIfOk(const std::string& command) {
  ShellResult result = runShell(command);
  if (!result.ok()) return std::nullopt;
  return std::move(result.output);
}

}  // namespace pilvo::testing
