#include "interface/interface_files.h"

#include <glib.h>

#include <fstream>
#include <sstream>

#include "common/private_files.h"

namespace pilvo::interface {

InterfaceFiles::InterfaceFiles(std::string preferencesPath)
    : preferencesPath_(std::move(preferencesPath)) {}

std::string InterfaceFiles::defaultPreferencesPath() {
  return std::string(g_get_user_config_dir()) + "/pilvo/interface.json";
}

void InterfaceFiles::allowPath(const std::string& path) { allowed_.insert(path); }

FileError InterfaceFiles::writeTextFile(const std::string& path, const std::string& text) {
  if (!allowed_.count(path)) {
    return {kPathNotAllowedCode,
            "Only a path chosen in the save dialog (showSavePanel) may be written"};
  }
  const std::string error = writePrivateFile(path, text);
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
  const std::string error = writePrivateFile(preferencesPath_, text);
  if (!error.empty()) return {kWriteFailedCode, error};
  return {};
}

}  // namespace pilvo::interface
