#include "common/private_files.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace pilvo {

std::string makePrivateDirectory(const std::string& path) {
  if (g_mkdir_with_parents(path.c_str(), 0700) != 0) {
    const int err = errno;
    return "Could not create the directory \"" + path + "\": " + std::strerror(err);
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return "Could not create the directory \"" + path + "\": Not a directory";
  }
  if ((st.st_mode & 0777) != 0700) chmod(path.c_str(), 0700);
  return {};
}

int openPrivateFile(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0777) != 0600) fchmod(fd, 0600);
  return fd;
}

void restrictToOwner(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) != 0600) chmod(path.c_str(), 0600);
}

}  // namespace pilvo
