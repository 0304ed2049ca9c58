#include "identity/desktop_entry_index.h"

#include <gio/gdesktopappinfo.h>
#include <glib.h>

#include <algorithm>

#include "common/utf8.h"

namespace pilvo {
namespace {

constexpr std::string_view kDesktopSuffix = ".desktop";
constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;
// Deep enough for vendor sub-folders, shallow enough that a symlink loop ends.
constexpr int kMaxDepth = 4;

std::string asciiLower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(g_ascii_tolower(c)); });
  return out;
}

bool keyBool(GKeyFile* file, const char* key) {
  return g_key_file_get_boolean(file, kGroup, key, nullptr) != FALSE;
}

void listDesktopFilesInto(const std::string& dir, const std::string& prefix, int depth,
                          std::vector<DesktopFile>& out) {
  GDir* handle = g_dir_open(dir.c_str(), 0, nullptr);
  if (!handle) return;  // an absent directory is normal
  std::vector<std::string> names;
  while (const gchar* name = g_dir_read_name(handle)) names.emplace_back(name);
  g_dir_close(handle);
  std::sort(names.begin(), names.end());

  for (const std::string& name : names) {
    gchar* built = g_build_filename(dir.c_str(), name.c_str(), nullptr);
    std::string path = built;
    g_free(built);
    if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) {
      if (depth < kMaxDepth) listDesktopFilesInto(path, prefix + name + "-", depth + 1, out);
      continue;
    }
    if (name.size() <= kDesktopSuffix.size() || !name.ends_with(kDesktopSuffix)) continue;
    out.push_back({repairUtf8(prefix + name.substr(0, name.size() - kDesktopSuffix.size())),
                   std::move(path)});
  }
}

}  // namespace

std::vector<DesktopFile> listDesktopFiles(const std::string& applicationsDir) {
  std::vector<DesktopFile> out;
  listDesktopFilesInto(applicationsDir, "", 0, out);
  return out;
}

std::optional<std::string> desktopEntryString(GKeyFile* file, const char* key, bool localized,
                                              const char* locale) {
  gchar* value = localized ? g_key_file_get_locale_string(file, kGroup, key, locale, nullptr)
                           : g_key_file_get_string(file, kGroup, key, nullptr);
  if (!value) return std::nullopt;
  std::string out = repairUtf8(value);
  g_free(value);
  return out;
}

DesktopEntryIndex::DesktopEntryIndex(const std::vector<std::string>& dataDirs, const char* locale)
    : dataDirs_(dataDirs) {
  if (locale) locale_ = locale;
  scan();
}

void DesktopEntryIndex::reload() {
  byId_.clear();
  claimed_.clear();
  byLowerId_.clear();
  byWmClass_.clear();
  scan();
}

void DesktopEntryIndex::scan() {
  const char* locale = locale_ ? locale_->c_str() : nullptr;
  for (const std::string& dir : dataDirs_) {
    if (dir.empty()) continue;
    gchar* applications = g_build_filename(dir.c_str(), "applications", nullptr);
    for (const DesktopFile& desktopFile : listDesktopFiles(applications)) {
      readEntry(desktopFile, locale);
    }
    g_free(applications);
  }
  for (const auto& [id, entry] : byId_) {
    byLowerId_.emplace(asciiLower(id), id);
    // emplace keeps the first, i.e. the smallest ID, for a shared StartupWMClass.
    if (entry.startupWmClass && !entry.startupWmClass->empty()) {
      byWmClass_.emplace(*entry.startupWmClass, id);
    }
  }
}

std::vector<std::string> DesktopEntryIndex::environmentDataDirs() {
  std::vector<std::string> dirs{g_get_user_data_dir()};
  for (const gchar* const* dir = g_get_system_data_dirs(); *dir; ++dir) dirs.emplace_back(*dir);
  return dirs;
}

DesktopEntryIndex DesktopEntryIndex::fromEnvironment() {
  return DesktopEntryIndex(environmentDataDirs());
}

void DesktopEntryIndex::readEntry(const DesktopFile& desktopFile, const char* locale) {
  const std::string& id = desktopFile.id;
  if (claimed_.contains(id)) return;

  GKeyFile* file = g_key_file_new();
  if (!g_key_file_load_from_file(file, desktopFile.path.c_str(), G_KEY_FILE_KEEP_TRANSLATIONS,
                                 nullptr) ||
      !g_key_file_has_group(file, kGroup)) {
    g_key_file_free(file);
    return;  // unreadable or not an entry: a lower directory may still supply the ID
  }
  claimed_.emplace(id, true);
  const std::optional<std::string> type = desktopEntryString(file, G_KEY_FILE_DESKTOP_KEY_TYPE);
  if (!keyBool(file, G_KEY_FILE_DESKTOP_KEY_HIDDEN) && type == "Application") {
    DesktopEntry entry;
    entry.id = id;
    entry.name = desktopEntryString(file, G_KEY_FILE_DESKTOP_KEY_NAME, true, locale).value_or("");
    entry.startupWmClass = desktopEntryString(file, G_KEY_FILE_DESKTOP_KEY_STARTUP_WM_CLASS);
    entry.noDisplay = keyBool(file, G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY);
    entry.path = desktopFile.path;
    byId_.emplace(id, std::move(entry));
  }
  g_key_file_free(file);
}

const DesktopEntry* DesktopEntryIndex::findById(std::string_view id) const {
  auto it = byId_.find(id);
  return it == byId_.end() ? nullptr : &it->second;
}

const DesktopEntry* DesktopEntryIndex::findByIdIgnoringCase(std::string_view id) const {
  auto it = byLowerId_.find(asciiLower(id));
  return it == byLowerId_.end() ? nullptr : findById(it->second);
}

const DesktopEntry* DesktopEntryIndex::findByStartupWmClass(std::string_view wmClass) const {
  auto it = byWmClass_.find(wmClass);
  return it == byWmClass_.end() ? nullptr : findById(it->second);
}

std::vector<const DesktopEntry*> DesktopEntryIndex::entries() const {
  std::vector<const DesktopEntry*> out;
  out.reserve(byId_.size());
  for (const auto& [id, entry] : byId_) out.push_back(&entry);
  return out;
}

GDesktopAppInfo* DesktopEntryIndex::newAppInfo(std::string_view id) const {
  const DesktopEntry* entry = findById(id);
  if (!entry) return nullptr;
  return g_desktop_app_info_new_from_filename(entry->path.c_str());
}

}  // namespace pilvo
