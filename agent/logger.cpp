#include "agent/logger.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "agent/constants.h"
#include "common/private_files.h"
#include "common/timestamp.h"
#include "common/utf8.h"

namespace pilvo::agent {
namespace {

constexpr int kLogFlags = O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW;

}  // namespace

Logger::Logger(const std::string& path, const Clock& clock, std::FILE* err)
    : clock_(clock), err_(err), path_(path) {
  if (path.empty()) return;
  gchar* dir = g_path_get_dirname(path.c_str());
  // $XDG_STATE_HOME belongs to every program (it may be the home directory):
  // created private when missing, never chmod-ed.
  const bool dirOk = makeSharedDirectory(dir).empty();
  g_free(dir);
  if (!dirOk) return;
  fd_ = openPrivateFile(path, kLogFlags);
}

void Logger::rotateIfLarge() {
  struct stat opened {};
  if (fd_ < 0 || fstat(fd_, &opened) != 0 || opened.st_size <= kLogRotateBytes) return;
  // Only the file this logger has open is moved, never one put in its place.
  struct stat current {};
  const std::string previous = path_ + ".1";
  if (stat(path_.c_str(), &current) != 0 || current.st_ino != opened.st_ino ||
      current.st_dev != opened.st_dev || std::rename(path_.c_str(), previous.c_str()) != 0) {
    return;
  }
  restrictToOwner(previous);
  ::close(fd_);
  fd_ = openPrivateFile(path_, kLogFlags);
}

Logger::~Logger() {
  if (fd_ >= 0) ::close(fd_);
}

std::string Logger::escapeControls(std::string_view message) {
  return mapControlCharacters(message, [](std::string& out, char32_t c) {
    static constexpr char kHex[] = "0123456789abcdef";
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x80) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {  // C1, U+2028, U+2029
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 0xf];
    }
  });
}

void Logger::log(std::string_view message) {
  std::string line;
  line.reserve(message.size() + 24);
  line += '[';
  line += formatTimestamp(clock_.now());
  line += "] ";
  line += escapeControls(message);
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
