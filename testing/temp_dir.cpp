#include "testing/temp_dir.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pilvo::testing {
namespace {

void removeTree(GFile* file) {
  GFileEnumerator* children = g_file_enumerate_children(
      file, G_FILE_ATTRIBUTE_STANDARD_NAME, G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, nullptr, nullptr);
  if (children) {
    while (GFileInfo* info = g_file_enumerator_next_file(children, nullptr, nullptr)) {
      GFile* child = g_file_get_child(file, g_file_info_get_name(info));
      removeTree(child);
      g_object_unref(child);
      g_object_unref(info);
    }
    g_object_unref(children);
  }
  g_file_delete(file, nullptr, nullptr);
}

}  // namespace

TempDir::TempDir() {
  GError* error = nullptr;
  gchar* dir = g_dir_make_tmp("pilvo-test-XXXXXX", &error);
  if (!dir) {
    std::string message = error->message;
    g_error_free(error);
    throw std::runtime_error("cannot create a temporary directory: " + message);
  }
  path_ = dir;
  g_free(dir);
}

TempDir::~TempDir() {
  // Tests may leave read-only directories behind; open them up first.
  chmod(path_.c_str(), 0700);
  GFile* root = g_file_new_for_path(path_.c_str());
  removeTree(root);
  g_object_unref(root);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

int fileMode(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 0777);
}

}  // namespace pilvo::testing
