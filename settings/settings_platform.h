// What the settings channel needs from the desktop: the login item and a
// modal save dialog. Value types only; the real implementation is
// GtkSettingsPlatform (autostart entry + GtkFileChooserNative), tests use
// testing/fake_settings_platform.h.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace pilvo::settings {

class SettingsPlatform {
 public:
  virtual ~SettingsPlatform() = default;

  // Registers this program to start at login (true) or removes the
  // registration (false). Empty on success, else the system's description of
  // what failed; a failure leaves nothing half-written behind.
  virtual std::string setLaunchAtLogin(bool enabled) = 0;

  // Shows a modal save dialog proposing `suggestedName`, filtered to JSON,
  // that may create folders and confirms overwriting. Returns at once;
  // `done` runs once on the main loop when the dialog closes, with the chosen
  // path or nullopt when the user cancelled.
  virtual void runSavePanel(const std::string& suggestedName,
                            std::function<void(std::optional<std::string>)> done) = 0;
};

}  // namespace pilvo::settings
