// The menu that drops down from the tray item, as data: a pure function of the
// controller's fields, built anew at every opening. The tray platform turns the
// rows into real menu lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pilvo::menubar {

// What choosing a row does (the controller's commands).
enum class MenuAction { kNone, kStartSession, kEndSession, kToggleTracking, kOpenApp, kQuitApp };

enum class MenuRowStyle {
  kPlain,
  kSeparator,
  kHeader,   // bold title
  kSession,  // carries the green session dot
};

struct MenuRow {
  MenuRowStyle style = MenuRowStyle::kPlain;
  std::string text;
  bool enabled = false;
  MenuAction action = MenuAction::kNone;
  std::string key;  // key equivalent; empty for all but "Quit Pilvo"
  friend bool operator==(const MenuRow&, const MenuRow&) = default;
};

// The fields of the controller the menu is built from.
struct MenuState {
  int64_t score = 0;
  std::string focusState;
  int64_t deepWork = 0;
  int64_t switches = 0;
  bool isTracking = false;
  bool sessionActive = false;
  int64_t sessionRemaining = 0;
};

std::vector<MenuRow> buildMenuRows(const MenuState& state);

// "deep" -> "Deep Focus" and the other known states; any other text gets its
// first character upper-cased (full mapping: "ßa" -> "SSa"); "" stays "".
std::string focusStateLabel(std::string_view focusState);

// Seconds as "%02d:%02d" minutes and seconds; minutes are not capped
// (6000 -> "100:00"). A negative count shows as "00:00".
std::string formatRemaining(int64_t seconds);

// "45 min deep work  ·  12 switches", each part only when above 0.
std::string statisticsLine(int64_t deepWork, int64_t switches);

}  // namespace pilvo::menubar
