// What the integration tests run against: the build and source trees CTest
// names, and a private home for the programs they start.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace pilvo::testing {

// $name, else `fallback`.
inline std::string envOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value ? value : fallback;
}
inline std::string buildDir() { return envOr("PILVO_BUILD_DIR", "."); }
inline std::string sourceDir() { return envOr("PILVO_SOURCE_DIR", ".."); }

// Makes home, config, data and run (mode 0700) in `root` and points HOME,
// XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR at them, for this process
// and what it starts; false when a folder could not be made.
inline bool usePrivateHome(const std::string& root) {
  for (const char* name : {"home", "config", "data", "run"}) {
    if (mkdir((root + "/" + name).c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  setenv("HOME", (root + "/home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
  return true;
}

}  // namespace pilvo::testing
