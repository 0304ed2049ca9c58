#include "agent/logger.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include "common/private_files.h"
#include "common/timestamp.h"

namespace pilvo::agent {

Logger::Logger(const std::string& path, const Clock& clock, std::FILE* err)
    : clock_(clock), err_(err) {
  if (path.empty()) return;
  gchar* dir = g_path_get_dirname(path.c_str());
  const bool dirOk = makePrivateDirectory(dir).empty();
  g_free(dir);
  if (!dirOk) return;
  fd_ = openPrivateFile(path, O_WRONLY | O_APPEND | O_CREAT);
}

Logger::~Logger() {
  if (fd_ >= 0) ::close(fd_);
}

void Logger::log(std::string_view message) {
  std::string line;
  line.reserve(message.size() + 24);
  line += '[';
  line += formatTimestamp(clock_.now());
  line += "] ";
  line += message;
  line += '\n';
  if (fd_ >= 0) {
    // One write per line (O_APPEND), so lines from a restarted agent never interleave.
    [[maybe_unused]] ssize_t n = ::write(fd_, line.data(), line.size());
  }
  if (err_) {
    std::fwrite(line.data(), 1, line.size(), err_);
    std::fflush(err_);
  }
}

}  // namespace pilvo::agent
