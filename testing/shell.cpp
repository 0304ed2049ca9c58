#include "testing/shell.h"

#include <sys/wait.h>

#include <cstdio>

namespace pilvo::testing {

ShellResult runShell(const std::string& command) {
  ShellResult result;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace pilvo::testing
