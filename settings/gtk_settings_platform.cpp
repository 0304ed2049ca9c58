#include "settings/gtk_settings_platform.h"

#include <gio/gdesktopappinfo.h>
#include <gtk/gtk.h>

#include <string_view>

#include "settings/built_in_desktop_entry.h"

namespace pilvo::settings {
namespace {

struct SavePanel {
  GtkFileChooserNative* dialog;
  std::function<void(std::optional<std::string>)> done;
};

void onSavePanelResponse(GtkNativeDialog* dialog, int response, gpointer data) {
  auto* panel = static_cast<SavePanel*>(data);
  std::optional<std::string> path;
  if (response == GTK_RESPONSE_ACCEPT) {
    if (char* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
      path = chosen;
      g_free(chosen);
    }
  }
  auto done = std::move(panel->done);
  g_object_unref(panel->dialog);
  delete panel;
  done(std::move(path));
}

}  // namespace

GtkSettingsPlatform::GtkSettingsPlatform(AutostartEntry autostart,
                                         std::function<GtkWindow*()> parent)
    : autostart_(std::move(autostart)), parent_(std::move(parent)) {}

std::string GtkSettingsPlatform::setLaunchAtLogin(bool enabled) {
  return enabled ? autostart_.enable() : autostart_.disable();
}

void GtkSettingsPlatform::runSavePanel(const std::string& suggestedName,
                                       std::function<void(std::optional<std::string>)> done) {
  GtkWindow* parent = parent_ ? parent_() : nullptr;
  GtkFileChooserNative* dialog =
      gtk_file_chooser_native_new("Save", parent, GTK_FILE_CHOOSER_ACTION_SAVE, "_Save", "_Cancel");
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_file_chooser_set_current_name(chooser, suggestedName.c_str());
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
  gtk_file_chooser_set_create_folders(chooser, TRUE);
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, "JSON");
  gtk_file_filter_add_mime_type(filter, "application/json");
  gtk_file_filter_add_pattern(filter, "*.json");
  gtk_file_chooser_add_filter(chooser, filter);  // takes the floating reference
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);

  auto* panel = new SavePanel{dialog, std::move(done)};
  g_signal_connect(dialog, "response", G_CALLBACK(onSavePanelResponse), panel);
  // Not gtk_native_dialog_run(): the main loop keeps serving other calls
  // while the dialog is open, and the answer comes from the response signal.
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
}

AutostartEntry GtkSettingsPlatform::defaultAutostartEntry() {
  std::string entryText = kBuiltInDesktopEntry;
  if (GDesktopAppInfo* installed = g_desktop_app_info_new(kAutostartFileName)) {
    if (const char* file = g_desktop_app_info_get_filename(installed)) {
      char* text = nullptr;
      gsize length = 0;
      if (g_file_get_contents(file, &text, &length, nullptr)) entryText.assign(text, length);
      g_free(text);
    }
    g_object_unref(installed);
  }
  // The program that runs now: the installed one, or the build tree's during development.
  std::string program = "pilvo";
  if (char* self = g_file_read_link("/proc/self/exe", nullptr)) {
    program = self;
    g_free(self);
    // After the package manager replaced the running program, the kernel
    // names the old file "PATH (deleted)"; the new one lies at PATH.
    constexpr std::string_view kDeleted = " (deleted)";
    if (program.ends_with(kDeleted)) program.resize(program.size() - kDeleted.size());
  }
  return AutostartEntry(g_get_user_config_dir(), std::move(entryText), std::move(program));
}

}  // namespace pilvo::settings
