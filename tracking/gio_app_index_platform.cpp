#include "tracking/gio_app_index_platform.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "common/utf8.h"
#include "identity/desktop_entry_index.h"
#include "tracking/app_index_service.h"
#include "tracking/desktop_launcher.h"

namespace pilvo::tracking {
namespace {

constexpr std::string_view kDesktopSuffix = ".desktop";

}  // namespace

GioAppIndexPlatform::GioAppIndexPlatform(std::string ownBundleId, ThemeLookup themeLookup)
    : ownBundleId_(std::move(ownBundleId)), themeLookup_(std::move(themeLookup)) {}

std::vector<AppCandidate> GioAppIndexPlatform::systemApplications() {
  std::vector<AppCandidate> out;
  GList* all = g_app_info_get_all();
  for (GList* item = all; item; item = item->next) {
    if (!G_IS_DESKTOP_APP_INFO(item->data)) continue;
    const char* id = g_app_info_get_id(G_APP_INFO(item->data));
    const char* file = g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(item->data));
    if (!id || !file) continue;
    std::string_view name(id);
    if (name.ends_with(kDesktopSuffix)) name.remove_suffix(kDesktopSuffix.size());
    out.push_back({repairUtf8(name), file});
  }
  g_list_free_full(all, g_object_unref);
  return out;
}

std::vector<std::string> GioAppIndexPlatform::dataDirectories() {
  return DesktopEntryIndex::environmentDataDirs();
}

std::vector<std::string> GioAppIndexPlatform::currentDesktops() {
  std::vector<std::string> out;
  const gchar* value = g_getenv("XDG_CURRENT_DESKTOP");
  if (!value) return out;
  gchar** names = g_strsplit(value, ":", -1);
  for (gchar** name = names; *name; ++name) {
    if (**name) out.emplace_back(*name);
  }
  g_strfreev(names);
  return out;
}

std::string GioAppIndexPlatform::iconDirectory() {
  return userDataDirectory() + "/" + kAppIconDirectoryName;
}

std::optional<std::string> GioAppIndexPlatform::lookupThemeIcon(const std::string& name) {
  return themeLookup_ ? themeLookup_(name) : std::nullopt;
}

}  // namespace pilvo::tracking
