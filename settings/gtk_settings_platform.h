// The desktop's side of the settings channel: the XDG autostart entry as the
// login item, GtkFileChooserNative (the portal's dialog where one is
// available, GTK's own otherwise) as the save dialog.
#pragma once

#include <functional>

#include "settings/autostart_entry.h"
#include "settings/settings_platform.h"

typedef struct _GtkWindow GtkWindow;

namespace pilvo::settings {

class GtkSettingsPlatform final : public SettingsPlatform {
 public:
  // `parent` returns the window the dialog belongs to (may return nullptr).
  GtkSettingsPlatform(AutostartEntry autostart, std::function<GtkWindow*()> parent);

  std::string setLaunchAtLogin(bool enabled) override;
  void runSavePanel(const std::string& suggestedName,
                    std::function<void(std::optional<std::string>)> done) override;

  // The entry for this installation: the installed desktop entry (or the one
  // built in, when running from the build tree) with this program as Exec,
  // under the user's configuration directory.
  static AutostartEntry defaultAutostartEntry();

 private:
  AutostartEntry autostart_;
  std::function<GtkWindow*()> parent_;
};

}  // namespace pilvo::settings
