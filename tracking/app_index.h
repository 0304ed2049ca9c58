// The installed-application index: which desktop entries a user could launch
// from the desktop's menu, in source order, with their display names and the
// icon each names. Pure file work (no GTK, no main loop), so it runs on a
// worker thread and its rules can be tried on fixture directory trees.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pilvo::tracking {

// One desktop file a source reported: its desktop-file ID without ".desktop"
// and the file's path.
struct AppCandidate {
  std::string id;
  std::string path;

  bool operator==(const AppCandidate&) const = default;
};

// One answered application.
struct IndexedApp {
  std::string id;
  std::string name;
  // The entry's Icon value: a theme name, an absolute path, or empty.
  std::string icon;

  bool operator==(const IndexedApp&) const = default;
};

struct AppIndexRules {
  // This program's own identifier, never answered.
  std::string ownId;
  // $XDG_CURRENT_DESKTOP split on ':' (empty: no desktop is current).
  std::vector<std::string> currentDesktops;
  // Locale for the localized Name; nullptr: the process locale.
  const char* locale = nullptr;
};

// The folder scan: every *.desktop file under <dir>/applications for each
// directory in order, file names in byte order, sub-folders named into the ID
// ("kde4/kate.desktop" -> "kde4-kate"). IDs in `skipIds` (what the first
// source reported) are left out; repeats within the scan are kept.
std::vector<AppCandidate> scanApplicationDirs(const std::vector<std::string>& dataDirs,
                                              const std::vector<std::string>& skipIds);

// The final pass over the candidates in order. The first file met for an ID
// claims it, whatever it says (a user entry with NoDisplay or Hidden hides
// the system one it shadows); a claimed ID is then answered unless its entry
// is broken, not an Application or not installed (TryExec or Exec names a
// missing program), NoDisplay, Hidden, not shown in the current desktop, or
// this program itself.
std::vector<IndexedApp> filterCandidates(const std::vector<AppCandidate>& candidates,
                                         const AppIndexRules& rules);

// Whether `id` can name a file in the icon directory: not empty, not "." or
// "..", and without '/', NUL or control characters.
bool isSafeIconName(std::string_view id);

}  // namespace pilvo::tracking
