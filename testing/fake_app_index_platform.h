// Index platform over fixture directories: the "system database" is whatever
// list the test sets, the icon theme a folder of <name>.png / <name>.svg files.
// Like the toolkit's theme, lookups are counted so tests can tell whether they
// ran on the loop.
#pragma once

#include <glib.h>

#include <string>
#include <vector>

#include "tracking/app_index_platform.h"

namespace pilvo::testing {

struct FakeAppIndexPlatform final : tracking::AppIndexPlatform {
  std::vector<tracking::AppCandidate> systemApplications() override { return system; }
  std::vector<std::string> dataDirectories() override { return dataDirs; }
  std::vector<std::string> currentDesktops() override { return desktops; }
  std::string ownBundleIdentifier() override { return ownId; }
  std::string iconDirectory() override { return iconDir; }
  std::optional<std::string> lookupThemeIcon(const std::string& name) override {
    ++themeLookups;
    for (const char* suffix : {".png", ".svg"}) {
      std::string path = themeDir + "/" + name + suffix;
      if (g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR)) return path;
    }
    return std::nullopt;
  }

  std::vector<tracking::AppCandidate> system;
  std::vector<std::string> dataDirs;
  std::vector<std::string> desktops;
  std::string ownId = "com.pilvo.Pilvo";
  std::string iconDir;
  std::string themeDir;
  int themeLookups = 0;
};

}  // namespace pilvo::testing
