#include "common/data_files.h"

#include <filesystem>
#include <vector>

namespace pilvo {

std::optional<std::string> findDataFile(const std::string& fileName) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  std::vector<fs::path> dirs;
  if (!error) dirs.push_back(exe.parent_path().parent_path() / "share" / "pilvo");
  dirs.emplace_back(PILVO_INSTALLED_DATA_DIR);
  if (!error) dirs.push_back(exe.parent_path().parent_path() / "resources");
  for (const fs::path& dir : dirs) {
    const fs::path candidate = dir / fileName;
    if (fs::is_regular_file(candidate, error)) return candidate.string();
  }
  return std::nullopt;
}

}  // namespace pilvo
