#include "menubar/menu_model.h"

#include <gtest/gtest.h>

namespace pilvo::menubar {
namespace {

// Rows written compactly: "-" a separator, "*text" a disabled line, "text" a
// command (its action and key are checked in CommandsCarryTheirActions).
std::vector<std::string> outline(const std::vector<MenuRow>& rows) {
  std::vector<std::string> lines;
  for (const MenuRow& row : rows) {
    if (row.style == MenuRowStyle::kSeparator) {
      lines.push_back("-");
    } else {
      lines.push_back((row.enabled ? "" : "*") + row.text);
    }
  }
  return lines;
}

TEST(MenuModelTest, RowsFollowTheFieldsAsTheyStand) {
  struct Case {
    const char* name;
    MenuState state;
    std::vector<std::string> rows;
  };
  const std::vector<Case> cases = {
      {"nothing pushed yet: two separators in a row",
       {},
       {"*Pilvo", "-", "-", "Start Deep Session", "-", "Resume Tracking", "-", "Open Pilvo",
        "Quit Pilvo"}},
      {"figures and tracking",
       {.score = 72, .focusState = "deep", .deepWork = 45, .switches = 12, .isTracking = true},
       {"*Pilvo", "-", "*Focus: 72 \u2014 Deep Focus", "*45 min deep work  \u00B7  12 switches",
        "-", "Start Deep Session", "-", "Pause Tracking", "-", "Open Pilvo", "Quit Pilvo"}},
      {"switches only, no score",
       {.switches = 3},
       {"*Pilvo", "-", "*3 switches", "-", "Start Deep Session", "-", "Resume Tracking", "-",
        "Open Pilvo", "Quit Pilvo"}},
      {"score with an empty focus state ends in the dash",
       {.score = 5, .deepWork = 5},
       {"*Pilvo", "-", "*Focus: 5 \u2014 ", "*5 min deep work", "-", "Start Deep Session", "-",
        "Resume Tracking", "-", "Open Pilvo", "Quit Pilvo"}},
      {"a running session hides the figures",
       {.score = 72,
        .focusState = "deep",
        .deepWork = 45,
        .switches = 12,
        .sessionActive = true,
        .sessionRemaining = 1500},
       {"*Pilvo", "-", "*Deep Session Active  25:00", "End Session", "-", "Resume Tracking", "-",
        "Open Pilvo", "Quit Pilvo"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outline(buildMenuRows(c.state)), c.rows) << c.name;
  }
}

TEST(MenuModelTest, CommandsCarryTheirActionsAndOnlyQuitHasAKey) {
  const auto rows = buildMenuRows({.sessionActive = true});
  EXPECT_EQ(rows[0].style, MenuRowStyle::kHeader);
  EXPECT_EQ(rows[2].style, MenuRowStyle::kSession);
  std::vector<std::pair<std::string, MenuAction>> commands;
  for (const MenuRow& row : rows) {
    if (row.enabled) commands.emplace_back(row.text, row.action);
    EXPECT_EQ(row.key, row.text == "Quit Pilvo" ? "q" : "") << row.text;
    if (!row.enabled) {
      EXPECT_EQ(row.action, MenuAction::kNone) << row.text;
    }
  }
  const std::vector<std::pair<std::string, MenuAction>> expected = {
      {"End Session", MenuAction::kEndSession},
      {"Resume Tracking", MenuAction::kToggleTracking},
      {"Open Pilvo", MenuAction::kOpenApp},
      {"Quit Pilvo", MenuAction::kQuitApp}};
  EXPECT_EQ(commands, expected);
  EXPECT_EQ(buildMenuRows({})[3].action, MenuAction::kStartSession);
}

TEST(MenuModelTest, RemainingTimeIsMinutesAndSecondsUncapped) {
  for (const auto& [seconds, text] :
       std::vector<std::pair<int64_t, std::string>>{{1500, "25:00"},
                                                    {59, "00:59"},
                                                    {0, "00:00"},
                                                    {6000, "100:00"},
                                                    {61, "01:01"},
                                                    {-59, "00:00"},
                                                    {-3600, "00:00"}}) {
    EXPECT_EQ(formatRemaining(seconds), text) << seconds;
  }
}

TEST(MenuModelTest, FocusLabelsTranslateKnownStatesAndUpperCaseTheFirstCharacterOfOthers) {
  for (const auto& [state, label] : std::vector<std::pair<std::string, std::string>>{
           {"deep", "Deep Focus"},
           {"stable", "Stable"},
           {"fragmented", "Fragmented"},
           {"distracted", "Distracted"},
           {"", ""},
           {"flow", "Flow"},
           {"Deep", "Deep"},
           {"DEEP", "DEEP"},
           {"éclair calme", "Éclair calme"},
           {"ßeta", "SSeta"},  // full mapping: one character may become two
           {"ω", "Ω"},
           {"1st", "1st"},
           {"\xFFoops", "\xEF\xBF\xBDoops"}}) {
    EXPECT_EQ(focusStateLabel(state), label) << state;
  }
}

}  // namespace
}  // namespace pilvo::menubar
