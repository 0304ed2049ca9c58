// What the installed-application index needs from the desktop. Value types
// only; the GIO implementation is gio_app_index_platform.h, tests use
// testing/fake_app_index_platform.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tracking/app_index.h"

namespace pilvo::tracking {

class AppIndexPlatform {
 public:
  virtual ~AppIndexPlatform() = default;

  // Called from a worker thread.
  // The system's application database in its own order; empty when it yields
  // nothing usable.
  virtual std::vector<AppCandidate> systemApplications() = 0;
  // The data directories in precedence order: $XDG_DATA_HOME, then $XDG_DATA_DIRS.
  virtual std::vector<std::string> dataDirectories() = 0;
  virtual std::vector<std::string> currentDesktops() = 0;
  virtual std::string ownBundleIdentifier() = 0;
  // Where the icon files go: <user data directory>/app_icons.
  virtual std::string iconDirectory() = 0;

  // Called on the main loop only (the icon theme belongs to the toolkit).
  // The file of the theme icon `name` best suited to 32 x 32 pixels.
  virtual std::optional<std::string> lookupThemeIcon(const std::string& name) = 0;
};

}  // namespace pilvo::tracking
