#include "interface/interface_files.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/private_files.h"

namespace pilvo::interface {

std::string writeFileAtomically(const std::string& path, const std::string& text) {
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string temp = (slash == std::string::npos ? std::string() : dir + "/") + ".pilvo-XXXXXX";
  const int fd = g_mkstemp_full(temp.data(), O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return "could not create a file in \"" + dir + "\": " + std::strerror(errno);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      return "could not write \"" + path + "\": " + std::strerror(err);
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return "could not write \"" + path + "\": " + std::strerror(err);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return "could not write \"" + path + "\": " + std::strerror(err);
  }
  return {};
}

InterfaceFiles::InterfaceFiles(std::string preferencesPath)
    : preferencesPath_(std::move(preferencesPath)) {}

std::string InterfaceFiles::defaultPreferencesPath() {
  return std::string(g_get_user_config_dir()) + "/pilvo/interface.json";
}

void InterfaceFiles::allowPath(const std::string& path) {
  std::lock_guard lock(mutex_);
  allowed_.insert(path);
}

FileError InterfaceFiles::writeTextFile(const std::string& path, const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    if (!allowed_.count(path)) {
      return {kPathNotAllowedCode,
              "Only a path chosen in the save dialog (showSavePanel) may be written"};
    }
  }
  const std::string error = writeFileAtomically(path, text);
  if (!error.empty()) return {kWriteFailedCode, error};
  return {};
}

channels::Json InterfaceFiles::loadPreferences() const {
  std::ifstream in(preferencesPath_);
  if (!in) return channels::Json::object();
  std::stringstream text;
  text << in.rdbuf();
  channels::Json json = channels::Json::parse(text.str(), nullptr, false);
  if (json.is_discarded() || !json.is_object()) return channels::Json::object();
  return json;
}

FileError InterfaceFiles::savePreferences(const channels::Json& preferences) {
  const auto slash = preferencesPath_.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    std::string error = makePrivateDirectory(preferencesPath_.substr(0, slash));
    if (!error.empty()) return {kWriteFailedCode, error};
  }
  const std::string text =
      preferences.dump(2, ' ', false, channels::Json::error_handler_t::replace) + "\n";
  const std::string error = writeFileAtomically(preferencesPath_, text);
  if (!error.empty()) return {kWriteFailedCode, error};
  return {};
}

}  // namespace pilvo::interface
