#include "settings/autostart_entry.h"

#include <errno.h>
#include <glib.h>
#include <glib/gstdio.h>

#include <memory>

#include "common/glib_error.h"

namespace pilvo::settings {
namespace {

constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;

struct KeyFileDeleter {
  void operator()(GKeyFile* f) const { g_key_file_free(f); }
};

// Quotes an Exec argument as the desktop entry format requires: inside double
// quotes, with ", `, $ and \ escaped; '%' doubled since it starts field codes.
std::string quoteExecArgument(const std::string& arg) {
  bool plain = !arg.empty();
  for (char c : arg) {
    if (!(g_ascii_isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '+')) {
      plain = false;
    }
  }
  if (plain) return arg;
  std::string quoted = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

AutostartEntry::AutostartEntry(std::string configDir, std::string desktopEntry, std::string program)
    : configDir_(std::move(configDir)),
      desktopEntry_(std::move(desktopEntry)),
      program_(std::move(program)) {}

std::string AutostartEntry::path() const { return configDir_ + "/autostart/" + kAutostartFileName; }

std::string AutostartEntry::contents() const {
  std::unique_ptr<GKeyFile, KeyFileDeleter> file(g_key_file_new());
  // The installed entry is ours and always parses; should it not, the
  // essential fields below still make a valid entry.
  g_key_file_load_from_data(file.get(), desktopEntry_.data(), desktopEntry_.size(),
                            G_KEY_FILE_KEEP_TRANSLATIONS, nullptr);
  g_key_file_set_string(file.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_TYPE, "Application");
  if (!g_key_file_has_key(file.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_NAME, nullptr)) {
    g_key_file_set_string(file.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_NAME, "Pilvo");
  }
  g_key_file_set_string(file.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC,
                        quoteExecArgument(program_).c_str());
  // Whatever switched a previous copy off does not carry over.
  g_key_file_remove_key(file.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_HIDDEN, nullptr);
  g_key_file_remove_key(file.get(), kGroup, "X-GNOME-Autostart-enabled", nullptr);
  g_key_file_remove_key(file.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY, nullptr);
  g_key_file_remove_key(file.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC, nullptr);
  g_key_file_remove_key(file.get(), kGroup, "DBusActivatable", nullptr);
  gsize length = 0;
  char* data = g_key_file_to_data(file.get(), &length, nullptr);
  std::string text(data, length);
  g_free(data);
  return text;
}

std::string AutostartEntry::enable() const {
  const std::string directory = configDir_ + "/autostart";
  if (g_mkdir_with_parents(directory.c_str(), 0755) != 0) {
    const int code = errno;
    return "Cannot create " + directory + ": " + g_strerror(code);
  }
  const std::string text = contents();
  GError* error = nullptr;
  // Written to a temporary file beside it and renamed over the old one; GLib
  // removes the temporary file when any step fails.
  if (!g_file_set_contents_full(path().c_str(), text.data(), static_cast<gssize>(text.size()),
                                G_FILE_SET_CONTENTS_CONSISTENT, 0644, &error)) {
    return takeMessage(error);
  }
  return {};
}

std::string AutostartEntry::disable() const {
  const std::string file = path();
  if (g_unlink(file.c_str()) == 0) return {};
  const int code = errno;
  if (code == ENOENT || code == ENOTDIR) return {};  // nothing was registered
  return "Cannot remove " + file + ": " + g_strerror(code);
}

}  // namespace pilvo::settings
