#include "tracking/app_icon_writer.h"

#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace pilvo::tracking {
namespace {

// Moves `from` to `to` unless `to` exists. Falls back to link + unlink where
// the file system has no RENAME_NOREPLACE.
bool renameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (link(from.c_str(), to.c_str()) != 0) return false;
  unlink(from.c_str());
  return true;
}

bool writeAll(int fd, const gchar* data, gsize size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<gsize>(n);
  }
  return true;
}

// The PNG bytes of the rendered icon, or empty when the source cannot be read.
std::string renderPng(const std::string& sourcePath) {
  GdkPixbuf* scaled = gdk_pixbuf_new_from_file_at_scale(sourcePath.c_str(), kAppIconSize,
                                                        kAppIconSize, TRUE, nullptr);
  if (!scaled) return {};
  GdkPixbuf* rgba = gdk_pixbuf_add_alpha(scaled, FALSE, 0, 0, 0);
  g_object_unref(scaled);
  if (!rgba) return {};
  GdkPixbuf* canvas = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, kAppIconSize, kAppIconSize);
  gdk_pixbuf_fill(canvas, 0x00000000);
  const int width = std::min(gdk_pixbuf_get_width(rgba), kAppIconSize);
  const int height = std::min(gdk_pixbuf_get_height(rgba), kAppIconSize);
  gdk_pixbuf_copy_area(rgba, 0, 0, width, height, canvas, (kAppIconSize - width) / 2,
                       (kAppIconSize - height) / 2);
  g_object_unref(rgba);

  gchar* buffer = nullptr;
  gsize size = 0;
  std::string png;
  if (gdk_pixbuf_save_to_buffer(canvas, &buffer, &size, "png", nullptr, nullptr)) {
    png.assign(buffer, size);
  }
  g_free(buffer);
  g_object_unref(canvas);
  return png;
}

}  // namespace

IconWriteResult writeAppIcon(const std::string& sourcePath, const std::string& destPath) {
  const std::string png = renderPng(sourcePath);
  if (png.empty()) return IconWriteResult::kUnreadableSource;

  const size_t slash = destPath.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : destPath.substr(0, slash);
  std::string temp = dir + "/.icon-XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return IconWriteResult::kWriteFailed;
  fchmod(fd, 0644);
  const bool written = writeAll(fd, png.data(), png.size());
  const bool closed = close(fd) == 0;
  if (!written || !closed) {
    unlink(temp.c_str());
    return IconWriteResult::kWriteFailed;
  }
  if (!renameNoReplace(temp, destPath)) {
    const int error = errno;
    unlink(temp.c_str());
    return error == EEXIST ? IconWriteResult::kAlreadyThere : IconWriteResult::kWriteFailed;
  }
  return IconWriteResult::kWritten;
}

}  // namespace pilvo::tracking
