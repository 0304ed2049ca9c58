#include "tracking/app_index.h"

#include <glib.h>

#include <algorithm>
#include <optional>
#include <set>

#include "common/utf8.h"
#include "identity/desktop_entry_index.h"

namespace pilvo::tracking {
namespace {

constexpr std::string_view kDesktopSuffix = ".desktop";
constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;

// What the final pass needs of one desktop file.
struct EntryFacts {
  // Loads, has the entry group, Type=Application, and the programs named by
  // TryExec and Exec are installed (else the desktop's menus leave it out).
  bool application = false;
  bool noDisplay = false;
  bool hidden = false;
  std::optional<std::vector<std::string>> onlyShowIn;
  std::vector<std::string> notShowIn;
  std::optional<std::string> name;
  std::string icon;
};

std::vector<std::string> keyList(GKeyFile* file, const char* key) {
  std::vector<std::string> out;
  gchar** values = g_key_file_get_string_list(file, kGroup, key, nullptr, nullptr);
  if (!values) return out;
  for (gchar** v = values; *v; ++v) out.emplace_back(*v);
  g_strfreev(values);
  return out;
}

// Whether `program` (a name looked up in PATH, or an absolute path) can run.
bool installed(const std::string& program) {
  gchar* found = g_find_program_in_path(program.c_str());
  g_free(found);
  return found != nullptr;
}

// TryExec and the program of Exec, as GIO checks them before it lists an entry.
bool launchable(GKeyFile* file) {
  const std::string tryExec =
      desktopEntryString(file, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC).value_or("");
  if (!tryExec.empty() && !installed(tryExec)) return false;
  const std::string exec = desktopEntryString(file, G_KEY_FILE_DESKTOP_KEY_EXEC).value_or("");
  if (exec.empty()) return true;  // started over D-Bus
  gchar** argv = nullptr;
  if (!g_shell_parse_argv(exec.c_str(), nullptr, &argv, nullptr)) return false;
  const bool ok = installed(argv[0]);
  g_strfreev(argv);
  return ok;
}

EntryFacts readEntry(const std::string& path, const char* locale) {
  EntryFacts facts;
  GKeyFile* file = g_key_file_new();
  if (g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_KEEP_TRANSLATIONS, nullptr) &&
      g_key_file_has_group(file, kGroup)) {
    facts.application =
        desktopEntryString(file, G_KEY_FILE_DESKTOP_KEY_TYPE) == "Application" && launchable(file);
    facts.noDisplay =
        g_key_file_get_boolean(file, kGroup, G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY, nullptr);
    facts.hidden = g_key_file_get_boolean(file, kGroup, G_KEY_FILE_DESKTOP_KEY_HIDDEN, nullptr);
    if (g_key_file_has_key(file, kGroup, G_KEY_FILE_DESKTOP_KEY_ONLY_SHOW_IN, nullptr)) {
      facts.onlyShowIn = keyList(file, G_KEY_FILE_DESKTOP_KEY_ONLY_SHOW_IN);
    }
    facts.notShowIn = keyList(file, G_KEY_FILE_DESKTOP_KEY_NOT_SHOW_IN);
    facts.name = desktopEntryString(file, G_KEY_FILE_DESKTOP_KEY_NAME, true, locale);
    facts.icon = desktopEntryString(file, G_KEY_FILE_DESKTOP_KEY_ICON).value_or("");
  }
  g_key_file_free(file);
  return facts;
}

// As the desktop's menus decide: the first current desktop named in
// OnlyShowIn shows the entry, the first named in NotShowIn hides it; with
// neither, an entry is shown unless it has an OnlyShowIn list.
bool shownIn(const EntryFacts& facts, const std::vector<std::string>& desktops) {
  auto contains = [](const std::vector<std::string>& list, const std::string& desktop) {
    return std::find(list.begin(), list.end(), desktop) != list.end();
  };
  for (const std::string& desktop : desktops) {
    if (desktop.empty()) continue;
    if (facts.onlyShowIn && contains(*facts.onlyShowIn, desktop)) return true;
    if (contains(facts.notShowIn, desktop)) return false;
  }
  return !facts.onlyShowIn.has_value();
}

std::string fileStem(const std::string& path) {
  std::string base = path.substr(path.rfind('/') + 1);
  if (base.ends_with(kDesktopSuffix)) base.resize(base.size() - kDesktopSuffix.size());
  return repairUtf8(base);
}

}  // namespace

std::vector<AppCandidate> scanApplicationDirs(const std::vector<std::string>& dataDirs,
                                              const std::vector<std::string>& skipIds) {
  const std::set<std::string, std::less<>> skip(skipIds.begin(), skipIds.end());
  std::vector<AppCandidate> out;
  for (const std::string& dir : dataDirs) {
    if (dir.empty()) continue;
    for (DesktopFile& file : listDesktopFiles(dir + "/applications")) {
      if (!skip.contains(file.id)) out.push_back({std::move(file.id), std::move(file.path)});
    }
  }
  return out;
}

std::vector<IndexedApp> filterCandidates(const std::vector<AppCandidate>& candidates,
                                         const AppIndexRules& rules) {
  std::set<std::string, std::less<>> claimed;
  std::vector<IndexedApp> out;
  for (const AppCandidate& candidate : candidates) {
    if (!claimed.insert(candidate.id).second) continue;
    const EntryFacts facts = readEntry(candidate.path, rules.locale);
    if (!facts.application || facts.noDisplay || facts.hidden ||
        !shownIn(facts, rules.currentDesktops) || candidate.id == rules.ownId) {
      continue;
    }
    out.push_back({candidate.id, facts.name.value_or(fileStem(candidate.path)), facts.icon});
  }
  return out;
}

bool isSafeIconName(std::string_view id) {
  if (id.empty() || id == "." || id == "..") return false;
  return std::none_of(id.begin(), id.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return c == '/' || byte < 0x20 || byte == 0x7f;
  });
}

}  // namespace pilvo::tracking
