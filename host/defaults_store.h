// The host's few persisted settings: a small key-value file (GKeyFile) under
// $XDG_CONFIG_HOME/pilvo/, in a private directory, replaced atomically on
// every write so a crash never leaves half a file behind.
#pragma once

#include <optional>
#include <string>

namespace pilvo::host {

class DefaultsStore {
 public:
  explicit DefaultsStore(std::string path);
  // $XDG_CONFIG_HOME/pilvo/defaults.ini, as GLib reads the variable.
  static std::string defaultPath();

  const std::string& path() const { return path_; }

  // The string stored under `key`; nullopt when there is none or the file
  // cannot be read.
  std::optional<std::string> stringForKey(const std::string& key) const;

  // Stores `value` under `key`, keeping every other key. A file that cannot be
  // parsed is moved aside to "<path>.unreadable" first, not thrown away.
  // Returns an empty string on success, else what went wrong and what to do.
  std::string setString(const std::string& key, const std::string& value);

 private:
  std::string path_;
};

}  // namespace pilvo::host
