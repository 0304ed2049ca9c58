// Finds a file the program ships (pages, images) whether it runs installed
// or from its build tree.
#pragma once

#include <optional>
#include <string>

namespace pilvo {

// `fileName` (relative, e.g. "ui/index.html") under, in order: <prefix>/share/pilvo
// of the running executable, the configured data directory (<datadir>/pilvo),
// and <build>/resources.
std::optional<std::string> findDataFile(const std::string& fileName);

}  // namespace pilvo
