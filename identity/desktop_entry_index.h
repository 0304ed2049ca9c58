// The installed desktop entries (applications/*.desktop under the XDG data
// directories), indexed for naming running applications and launching them.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct _GDesktopAppInfo GDesktopAppInfo;
typedef struct _GKeyFile GKeyFile;

namespace pilvo {

// One *.desktop file below an applications folder.
struct DesktopFile {
  // The desktop-file ID without ".desktop" (see DesktopEntry::id), valid UTF-8.
  std::string id;
  std::string path;
};

// Every *.desktop file below `applicationsDir` in walk order: names in byte
// order, a sub-folder's files in its place, at most a few folders deep (so a
// symlink loop ends). An absent or unreadable folder lists nothing.
std::vector<DesktopFile> listDesktopFiles(const std::string& applicationsDir);

// The value of `key` in the file's desktop entry group, repaired to valid
// UTF-8; `localized` reads the translation for `locale` (nullptr: the process
// locale). nullopt when the key is missing.
std::optional<std::string> desktopEntryString(GKeyFile* file, const char* key,
                                              bool localized = false, const char* locale = nullptr);

struct DesktopEntry {
  // Desktop-file ID without ".desktop": the path below applications/ with "/"
  // turned into "-" (applications/kde4/kate.desktop -> "kde4-kate").
  std::string id;
  // Name in the current (or requested) locale; may be empty in a broken entry.
  std::string name;
  std::optional<std::string> startupWmClass;
  bool noDisplay = false;
  std::string path;
};

class DesktopEntryIndex {
 public:
  // Reads <dir>/applications for every dir in order. As in the XDG lookup, the
  // first directory that holds an ID wins, and a Hidden=true entry there hides
  // the same ID further down. `locale` picks the localized Name (nullptr: the
  // process locale).
  explicit DesktopEntryIndex(const std::vector<std::string>& dataDirs,
                             const char* locale = nullptr);

  // $XDG_DATA_HOME, then $XDG_DATA_DIRS, as GLib reads them (once per
  // process: set the environment before the first use of GLib's directories).
  static DesktopEntryIndex fromEnvironment();
  // The directories fromEnvironment() reads, in order.
  static std::vector<std::string> environmentDataDirs();

  // Reads the same directories again (after applications were installed or
  // removed). Pointers handed out before are invalid afterwards.
  void reload();

  const DesktopEntry* findById(std::string_view id) const;
  // ID comparison ignoring ASCII case ("Firefox-ESR" finds "firefox-esr").
  const DesktopEntry* findByIdIgnoringCase(std::string_view id) const;
  // The entry whose StartupWMClass equals `wmClass` exactly; with several,
  // the one with the smallest ID.
  const DesktopEntry* findByStartupWmClass(std::string_view wmClass) const;

  // Entries in ID order, including NoDisplay ones.
  std::vector<const DesktopEntry*> entries() const;
  size_t size() const { return byId_.size(); }

  // A launchable GDesktopAppInfo for the entry with `id` (a new reference the
  // caller unrefs), or nullptr when there is none or it cannot be loaded.
  GDesktopAppInfo* newAppInfo(std::string_view id) const;

 private:
  void scan();
  void readEntry(const DesktopFile& desktopFile, const char* locale);

  std::vector<std::string> dataDirs_;
  std::optional<std::string> locale_;

  std::map<std::string, DesktopEntry, std::less<>> byId_;
  // IDs already claimed by a higher-priority directory (also hidden ones).
  std::map<std::string, bool, std::less<>> claimed_;
  std::map<std::string, std::string, std::less<>> byLowerId_;
  std::map<std::string, std::string, std::less<>> byWmClass_;
};

}  // namespace pilvo
