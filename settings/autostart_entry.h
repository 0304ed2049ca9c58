// The freedesktop autostart entry that starts Pilvo at login:
// $XDG_CONFIG_HOME/autostart/com.pilvo.Pilvo.desktop, read by GNOME, KDE,
// XFCE and systemd's xdg-autostart generator alike.
#pragma once

#include <string>

namespace pilvo::settings {

inline constexpr const char* kAutostartFileName = "com.pilvo.Pilvo.desktop";

class AutostartEntry {
 public:
  // `configDir`: the user's configuration directory (g_get_user_config_dir()).
  // `desktopEntry`: the installed desktop entry's text, whose fields the
  // autostart copy carries. `program`: the absolute path of the program to start.
  AutostartEntry(std::string configDir, std::string desktopEntry, std::string program);

  std::string path() const;

  // Writes the entry atomically (a reader sees the old file or the whole new
  // one), replacing whatever the user had there, including a copy they
  // disabled in their desktop's settings. Empty on success, else the system's
  // description of the error; no temporary file stays behind.
  std::string enable() const;
  // Removes the entry; nothing to remove is success.
  std::string disable() const;

  // The text enable() writes.
  std::string contents() const;

 private:
  std::string configDir_;
  std::string desktopEntry_;
  std::string program_;
};

}  // namespace pilvo::settings
