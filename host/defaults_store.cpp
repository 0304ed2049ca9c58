#include "host/defaults_store.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <memory>

#include "common/glib_error.h"
#include "common/private_files.h"

namespace pilvo::host {
namespace {

constexpr const char* kGroup = "Defaults";

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_unref(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

}  // namespace

DefaultsStore::DefaultsStore(std::string path) : path_(std::move(path)) {}

std::string DefaultsStore::defaultPath() {
  gchar* path = g_build_filename(g_get_user_config_dir(), "pilvo", "defaults.ini", nullptr);
  std::string result = path;
  g_free(path);
  return result;
}

std::optional<std::string> DefaultsStore::stringForKey(const std::string& key) const {
  KeyFilePtr file(g_key_file_new());
  if (!g_key_file_load_from_file(file.get(), path_.c_str(), G_KEY_FILE_NONE, nullptr)) {
    return std::nullopt;
  }
  gchar* value = g_key_file_get_string(file.get(), kGroup, key.c_str(), nullptr);
  if (!value) return std::nullopt;
  std::string result = value;
  g_free(value);
  return result;
}

std::string DefaultsStore::setString(const std::string& key, const std::string& value) {
  gchar* dir = g_path_get_dirname(path_.c_str());
  std::string dirError = makePrivateDirectory(dir);
  g_free(dir);
  if (!dirError.empty()) return dirError;

  KeyFilePtr file(g_key_file_new());
  GError* error = nullptr;
  if (!g_key_file_load_from_file(file.get(), path_.c_str(), G_KEY_FILE_KEEP_COMMENTS, &error)) {
    const bool missing = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
    g_clear_error(&error);
    if (!missing) {
      const std::string aside = path_ + ".unreadable";
      if (g_rename(path_.c_str(), aside.c_str()) != 0) {
        return "cannot read " + path_ + " and cannot move it aside; remove or fix it by hand";
      }
    }
    file.reset(g_key_file_new());
  }
  g_key_file_set_string(file.get(), kGroup, key.c_str(), value.c_str());
  gsize length = 0;
  gchar* data = g_key_file_to_data(file.get(), &length, nullptr);
  const std::string writeError = writePrivateFile(path_, std::string_view(data, length));
  g_free(data);
  if (!writeError.empty()) {
    return "cannot write " + path_ + ": " + writeError +
           "; check that the directory is writable and the disk is not full";
  }
  restrictToOwner(path_);
  return {};
}

}  // namespace pilvo::host
