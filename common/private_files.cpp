#include "common/private_files.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace pilvo {

namespace {

std::string failure(const std::string& path, int err) {
  return "Could not create the directory \"" + path + "\": " + std::strerror(err);
}

// Creates `path` with `mode` when missing (its parents 0755 less the umask);
// `created` tells whether this call made it.
std::string ensureDirectory(const std::string& path, mode_t mode, bool* created) {
  *created = false;
  if (::mkdir(path.c_str(), mode) == 0) {
    *created = true;
  } else if (errno == ENOENT) {
    gchar* parent = g_path_get_dirname(path.c_str());
    const int made = g_mkdir_with_parents(parent, 0755);
    const int err = errno;
    g_free(parent);
    if (made != 0) return failure(path, err);
    if (::mkdir(path.c_str(), mode) == 0) *created = true;
  }
  if (!*created && errno != EEXIST) return failure(path, errno);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return failure(path, ENOTDIR);
  // mkdir applies the umask; a private mode must not depend on it.
  if (*created && (st.st_mode & 0777) != mode) chmod(path.c_str(), mode);
  return {};
}

}  // namespace

std::string makePrivateDirectory(const std::string& path) {
  bool created = false;
  if (std::string error = ensureDirectory(path, 0700, &created); !error.empty()) return error;
  struct stat st {};
  if (!created && stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) != 0700) {
    chmod(path.c_str(), 0700);
  }
  return {};
}

std::string makeSharedDirectory(const std::string& path) {
  bool created = false;
  return ensureDirectory(path, 0700, &created);
}

int openPrivateFile(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0777) != 0600) fchmod(fd, 0600);
  return fd;
}

std::string writePrivateFile(const std::string& path, std::string_view text) {
  GError* error = nullptr;
  if (g_file_set_contents_full(path.c_str(), text.data(), static_cast<gssize>(text.size()),
                               static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                                                  G_FILE_SET_CONTENTS_DURABLE),
                               0600, &error)) {
    return {};
  }
  std::string message = error ? error->message : "unknown error";
  g_clear_error(&error);
  return message;
}

void restrictToOwner(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) != 0600) chmod(path.c_str(), 0600);
}

}  // namespace pilvo
