// What the interface may keep on disk: its preferences (one JSON file in the
// user's config directory) and text files written where the user chose in a
// save dialog of this session. No other path is reachable from the page.
#pragma once

#include <set>
#include <string>

#include "channels/json_mapping.h"

namespace pilvo::interface {

inline constexpr const char* kPathNotAllowedCode = "PATH_NOT_ALLOWED";
inline constexpr const char* kWriteFailedCode = "WRITE_FAILED";

struct FileError {
  std::string code;  // empty on success
  std::string message;
  bool ok() const { return code.empty(); }
};

class InterfaceFiles {
 public:
  explicit InterfaceFiles(std::string preferencesPath);

  // $XDG_CONFIG_HOME/pilvo/interface.json
  static std::string defaultPreferencesPath();

  // A path the save dialog returned; writeTextFile() accepts it from now on.
  void allowPath(const std::string& path);
  FileError writeTextFile(const std::string& path, const std::string& text);

  // The stored preferences; an empty object when there are none or the file
  // is unreadable.
  channels::Json loadPreferences() const;
  FileError savePreferences(const channels::Json& preferences);

 private:
  std::string preferencesPath_;
  std::set<std::string> allowed_;
};

}  // namespace pilvo::interface
