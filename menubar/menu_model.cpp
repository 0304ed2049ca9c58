#include "menubar/menu_model.h"

#include <glib.h>

#include <cinttypes>
#include <cstdio>

#include "common/utf8.h"

namespace pilvo::menubar {
namespace {

MenuRow separator() { return {.style = MenuRowStyle::kSeparator}; }

MenuRow disabledLine(std::string text, MenuRowStyle style = MenuRowStyle::kPlain) {
  return {.style = style, .text = std::move(text)};
}

MenuRow command(std::string text, MenuAction action, std::string key = {}) {
  return {.text = std::move(text), .enabled = true, .action = action, .key = std::move(key)};
}

}  // namespace

std::string focusStateLabel(std::string_view focusState) {
  if (focusState == "deep") return "Deep Focus";
  if (focusState == "stable") return "Stable";
  if (focusState == "fragmented") return "Fragmented";
  if (focusState == "distracted") return "Distracted";
  if (focusState.empty()) return {};
  // Menu text must be valid UTF-8; a broken sequence becomes U+FFFD first.
  const std::string text = repairUtf8(focusState);
  const char* rest = g_utf8_next_char(text.c_str());
  const auto firstLength = static_cast<gssize>(rest - text.c_str());
  char* upper = g_utf8_strup(text.c_str(), firstLength);
  std::string label = upper;
  g_free(upper);
  label.append(rest);
  return label;
}

std::string formatRemaining(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  char text[48];
  std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64, seconds / 60, seconds % 60);
  return text;
}

std::string statisticsLine(int64_t deepWork, int64_t switches) {
  std::string line;
  if (deepWork > 0) line = std::to_string(deepWork) + " min deep work";
  if (switches > 0) {
    if (!line.empty()) line += "  \u00B7  ";
    line += std::to_string(switches) + " switches";
  }
  return line;
}

std::vector<MenuRow> buildMenuRows(const MenuState& state) {
  std::vector<MenuRow> rows;
  rows.push_back(disabledLine("Pilvo", MenuRowStyle::kHeader));
  rows.push_back(separator());
  if (state.sessionActive) {
    rows.push_back(disabledLine("Deep Session Active  " + formatRemaining(state.sessionRemaining),
                                MenuRowStyle::kSession));
    rows.push_back(command("End Session", MenuAction::kEndSession));
  } else {
    if (state.score > 0) {
      rows.push_back(disabledLine("Focus: " + std::to_string(state.score) + " \u2014 " +
                                  focusStateLabel(state.focusState)));
    }
    if (state.deepWork > 0 || state.switches > 0) {
      rows.push_back(disabledLine(statisticsLine(state.deepWork, state.switches)));
    }
    rows.push_back(separator());
    rows.push_back(command("Start Deep Session", MenuAction::kStartSession));
  }
  rows.push_back(separator());
  rows.push_back(command(state.isTracking ? "Pause Tracking" : "Resume Tracking",
                         MenuAction::kToggleTracking));
  rows.push_back(separator());
  rows.push_back(command("Open Pilvo", MenuAction::kOpenApp));
  rows.push_back(command("Quit Pilvo", MenuAction::kQuitApp, "q"));
  return rows;
}

}  // namespace pilvo::menubar
