#include "host/theme_icon_lookup.h"

#include <gtk/gtk.h>

#include "tracking/app_icon_writer.h"

namespace pilvo::host {

std::optional<std::string> lookupThemeIconFile(const std::string& name) {
  GtkIconInfo* info = gtk_icon_theme_lookup_icon(gtk_icon_theme_get_default(), name.c_str(),
                                                 tracking::kAppIconSize, GtkIconLookupFlags{});
  if (!info) return std::nullopt;
  const gchar* file = gtk_icon_info_get_filename(info);
  std::optional<std::string> path = file ? std::optional<std::string>(file) : std::nullopt;
  g_object_unref(info);
  return path;
}

}  // namespace pilvo::host
