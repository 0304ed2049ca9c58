#include "overlay/overlay_panel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "overlay/animation_curve.h"
#include "overlay/screen_dim_panel.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_overlay_platform.h"

namespace pilvo::overlay {
namespace {

using ::testing::ElementsAre;

struct OverlayPanelTest : ::testing::Test {
  testing::FakeEventLoop loop;
  testing::FakeOverlayPlatform platform{loop};
  std::vector<std::string> log;
  OverlayPanel panel{platform, loop,
                     [this](host::HostLogLevel, std::string_view line) { log.emplace_back(line); }};
  testing::FakePanelWindow& window = *platform.panel();

  void load() {
    window.finishLoad();
    loop.runUntilIdle();
    window.takeScripts();
  }
  void show(const std::string& message, bool buttons = false, const std::string& mode = "",
            OverlayPosition position = OverlayPosition::kTopRight, double duration = 3) {
    panel.show(platform.mainScreen(), message, AvatarState::kAlert, duration, position, buttons,
               mode);
  }
};

TEST(OverlayPlacementTest, ExamplesOnA1440By875WorkArea) {
  const Rect visible{0, 25, 1440, 875};
  struct Case {
    OverlayPosition position;
    Point start, end;
  };
  for (const Case& c : {Case{OverlayPosition::kTopRight, {1450, 380}, {1160, 380}},
                        Case{OverlayPosition::kTopLeft, {1450, 380}, {1160, 380}},
                        Case{OverlayPosition::kBottomRight, {1450, 45}, {1160, 45}},
                        Case{OverlayPosition::kBottomLeft, {1450, 45}, {1160, 45}},
                        Case{OverlayPosition::kCenter, {1450, 212.5}, {1160, 212.5}}}) {
    const Placement placement = placementFor(visible, c.position);
    EXPECT_EQ(placement.start, c.start) << static_cast<int>(c.position);
    EXPECT_EQ(placement.end, c.end) << static_cast<int>(c.position);
  }
}

TEST(AnimationCurveTest, EaseOutStartsFastEaseInStartsSlow) {
  for (Curve curve : {Curve::kEaseOut, Curve::kEaseIn}) {
    EXPECT_EQ(easedProgress(curve, -1), 0);
    EXPECT_EQ(easedProgress(curve, 2), 1);
    double last = 0;
    for (double t = 0.05; t < 1; t += 0.05) {
      EXPECT_GT(easedProgress(curve, t), last);
      last = easedProgress(curve, t);
    }
  }
  // cubic-bezier(0, 0, 0.58, 1) and (0.42, 0, 1, 1) at half time.
  EXPECT_NEAR(easedProgress(Curve::kEaseOut, 0.5), 0.6846, 1e-4);
  EXPECT_NEAR(easedProgress(Curve::kEaseIn, 0.5), 0.3154, 1e-4);
}

TEST(OverlayScriptTest, EscapesBackslashQuoteLineFeedAndCarriageReturnOnly) {
  EXPECT_EQ(escapeForScript("it's\\\n"), "it\\'s\\\\\\n");
  EXPECT_EQ(escapeForScript("a\r\nb"), "a\\r\\nb");
  EXPECT_EQ(escapeForScript("say \"hi\"\t\xC3\xA9"), "say \"hi\"\t\xC3\xA9");
  struct Case {
    std::optional<std::string> state;
    std::string mode;
    std::string script;
  };
  for (const Case& c : {Case{"nagging", "nudge", "showMessage('x', 'nagging', 'nudge')"},
                        Case{"idle", "", "showMessage('x', 'idle', false)"},
                        Case{std::nullopt, "nudge", "showMessage('x', null, 'nudge')"},
                        Case{std::nullopt, "", "showMessage('x', null, false)"},
                        Case{"idle", "a');evil('", "showMessage('x', 'idle', 'a\\');evil(\\'')"}}) {
    EXPECT_EQ(showMessageScript("x", c.state, c.mode), c.script);
  }
}

TEST_F(OverlayPanelTest, ConstructionLoadsThePageFromTheResources) {
  EXPECT_EQ(window.loadedPath(), "/fake/share/pilvo/korima_overlay.html");
  EXPECT_THAT(log, ElementsAre("Tavik: Loading korima_overlay.html from bundle",
                               "Tavik: OverlayPanel init complete"));
  EXPECT_TRUE(window.ignoresMouse());
  EXPECT_FALSE(window.isVisible());
}

TEST(OverlayPanelPageTest, MissingPageIsLoggedAndMessagesWaitForGood) {
  testing::FakeEventLoop loop;
  testing::FakeOverlayPlatform platform{loop};
  platform.setResourceDir(std::nullopt);
  std::vector<std::string> log;
  OverlayPanel panel{platform, loop,
                     [&](host::HostLogLevel, std::string_view line) { log.emplace_back(line); }};
  EXPECT_EQ(log.front(), "Tavik: ERROR - korima_overlay.html not found in bundle");
  panel.updateAvatarState(AvatarState::kCalm);  // still goes to the empty web view
  loop.runUntilIdle();
  EXPECT_EQ(log.back(),
            "Tavik: JS error (setState): ReferenceError: Can't find variable: setState");
  EXPECT_FALSE(platform.panel()->loadedPath());
  panel.show(platform.mainScreen(), "Hi", AvatarState::kCalm, 3, OverlayPosition::kTopRight, false,
             "");
  loop.advance(0.5);
  EXPECT_TRUE(platform.panel()->isVisible());
  ASSERT_TRUE(panel.pendingMessage());
  EXPECT_EQ(panel.pendingMessage()->second, "idle");
}

TEST_F(OverlayPanelTest, SlideInMovesFromBeyondTheEdgeAndDeliversTheMessageAtItsEnd) {
  load();
  show("Time to refocus?", true);
  EXPECT_EQ(window.frame(), (Rect{1450, 380, 280, 500}));
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.ignoresMouse());
  EXPECT_EQ(window.alpha(), 1.0);
  EXPECT_THAT(window.takeScripts(), ElementsAre("setState('peeking')"));
  ASSERT_EQ(window.animations_.size(), 1u);
  EXPECT_EQ(window.animations_[0].seconds, 0.5);
  EXPECT_EQ(window.animations_[0].curve, Curve::kEaseOut);

  loop.advance(0.49);
  EXPECT_TRUE(window.scripts().empty());
  loop.advance(0.01);
  EXPECT_EQ(window.frame(), (Rect{1160, 380, 280, 500}));
  EXPECT_THAT(window.takeScripts(),
              ElementsAre("showMessage('Time to refocus?', 'nagging', 'nudge')"));
}

TEST_F(OverlayPanelTest, MessagesBeforeLoadWaitInOneSlotAndArriveOnLoad) {
  show("first");
  loop.advance(1);
  show("second", false, "custom");
  loop.advance(1);
  EXPECT_TRUE(window.scripts().empty());  // no setState('peeking') before load
  // hide() keeps the slot.
  panel.hide();
  loop.advance(1);
  window.takeScripts();
  window.finishLoad();
  EXPECT_THAT(window.takeScripts(), ElementsAre("showMessage('second', 'nagging', 'custom')"));
  EXPECT_FALSE(panel.pendingMessage());
  EXPECT_TRUE(panel.isLoaded());
}

TEST_F(OverlayPanelTest, HideDuringSlideInDropsTheMessage) {
  show("dropped");
  loop.advance(0.3);
  panel.hide();
  loop.advance(1);
  EXPECT_FALSE(panel.pendingMessage());
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.frame().x, 1450);
  EXPECT_EQ(window.animations_.back().curve, Curve::kEaseIn);
  EXPECT_EQ(window.animations_.back().seconds, 0.35);
}

TEST_F(OverlayPanelTest, ShowWhileShownRestartsFromTheEdgeAndTheOldTimerNeverFires) {
  load();
  int dismissed = 0;
  panel.onDismiss = [&] { ++dismissed; };
  show("one", false, "", OverlayPosition::kTopRight, 1);
  loop.advance(1);
  show("two", false, "", OverlayPosition::kBottomRight, 5);
  EXPECT_EQ(window.frame(), (Rect{1450, 45, 280, 500}));
  loop.advance(5.5);
  EXPECT_EQ(dismissed, 0);
  EXPECT_TRUE(window.isVisible());
  loop.advance(0.1);  // 5.6 s after the second show
  EXPECT_EQ(dismissed, 1);
  EXPECT_EQ(log.back(), "Tavik: Auto-dismissing overlay");
  loop.advance(0.35);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(log.back(), "Tavik: Overlay hidden");
  EXPECT_EQ(window.takeScripts().back(), "setState('idle')");
  EXPECT_EQ(loop.activeTimerCount(), 0u);
}

TEST_F(OverlayPanelTest, HideWhileHiddenStillSlidesOutAndSaysIdle) {
  load();
  panel.hide();
  loop.advance(0.35);
  EXPECT_EQ(log.back(), "Tavik: Overlay hidden");
  EXPECT_THAT(window.takeScripts(), ElementsAre("setState('idle')"));
}

TEST_F(OverlayPanelTest, HideSlidesOutOverTheEdgeOfTheScreenItCameIn) {
  load();
  show("x", false);
  loop.advance(0.5);
  // The user's focus moves to a monitor on the right before the panel goes.
  platform.setScreen(Screen{{1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}});
  panel.hide();
  loop.advance(0.35);
  EXPECT_EQ(window.frame().x, 1450);
  EXPECT_EQ(log.back(), "Tavik: Overlay hidden");
}

TEST_F(OverlayPanelTest, WithoutAScreenShowLogsAndHideOrdersOutAtOnce) {
  load();
  platform.setScreen(std::nullopt);
  show("x", true);
  EXPECT_EQ(log.back(), "Tavik: ERROR - No main screen found");
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(loop.activeTimerCount(), 0u);
  EXPECT_EQ(panel.buttonMode(), "nudge");
  const size_t lines = log.size();
  panel.hide();
  EXPECT_THAT(window.takeScripts(), ElementsAre("setState('idle')"));
  EXPECT_EQ(log.size(), lines);
}

TEST_F(OverlayPanelTest, ButtonModeFollowsTheShowAndAppliesToUpdates) {
  load();
  struct Case {
    bool buttons;
    std::string mode;
    std::string sent;
  };
  for (const Case& c : {Case{true, "", "'nudge'"}, Case{false, "quiz", "'quiz'"},
                        Case{true, "quiz", "'quiz'"}, Case{false, "", "false"}}) {
    show("m", c.buttons, c.mode);
    panel.updateMessage("u");
    EXPECT_EQ(window.takeScripts().back(), "showMessage('u', null, " + c.sent + ")");
  }
  panel.updateAvatarState(AvatarState::kCelebrating);
  EXPECT_THAT(window.takeScripts(), ElementsAre("setState('proud')"));
}

TEST_F(OverlayPanelTest, StringAnswersAreForwardedThenThePanelSlidesOut) {
  load();
  std::vector<std::string> answers;
  int dismissed = 0;
  panel.onNudgeResponse = [&](const std::string& answer) { answers.push_back(answer); };
  panel.onDismiss = [&] { ++dismissed; };
  show("q", true);
  loop.advance(0.5);
  window.post("nudgeResponse", std::nullopt);  // a number or object from the page
  window.post("other", "focus");
  EXPECT_TRUE(answers.empty());
  window.post("nudgeResponse", "focus");
  EXPECT_THAT(answers, ElementsAre("focus"));
  EXPECT_EQ(log.back(), "Tavik: Nudge response \u2014 focus");
  EXPECT_TRUE(window.ignoresMouse());
  loop.advance(0.35);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(dismissed, 0);
}

TEST_F(OverlayPanelTest, ScriptErrorsAndLoadFailuresAreLogged) {
  window.failLoad("file gone");
  EXPECT_EQ(log.back(), "Tavik: WKWebView navigation failed: file gone");
  EXPECT_FALSE(panel.isLoaded());
  window.setScriptError("SyntaxError: Unexpected EOF");
  panel.updateMessage("x");
  panel.updateAvatarState(AvatarState::kCalm);
  loop.runUntilIdle();
  EXPECT_THAT(std::vector(log.end() - 2, log.end()),
              ElementsAre("Tavik: JS error (showMessage): SyntaxError: Unexpected EOF",
                          "Tavik: JS error (setState): SyntaxError: Unexpected EOF"));
}

TEST_F(OverlayPanelTest, NonFiniteOrHugeDurationsNeverOverflowTheTimer) {
  load();
  int dismissed = 0;
  panel.onDismiss = [&] { ++dismissed; };
  show("nan", false, "", OverlayPosition::kTopRight, std::nan(""));
  loop.advance(0.6);
  EXPECT_EQ(dismissed, 1);
  show("negative", false, "", OverlayPosition::kTopRight, -100);
  loop.advance(0.5);
  EXPECT_EQ(dismissed, 1);
  loop.advance(0.1);
  EXPECT_EQ(dismissed, 2);
  show("forever", false, "", OverlayPosition::kTopRight, 1e300);
  loop.advance(86400.5);
  EXPECT_EQ(dismissed, 2);
  loop.advance(0.1);
  EXPECT_EQ(dismissed, 3);
}

struct ScreenDimPanelTest : ::testing::Test {
  testing::FakeEventLoop loop;
  testing::FakeOverlayPlatform platform{loop};
};

TEST_F(ScreenDimPanelTest, FitsTheWholeScreenFadesInAndOut) {
  platform.setScreen(std::nullopt);
  ScreenDimPanel dim{platform};
  testing::FakeDimWindow& window = *platform.dim();
  EXPECT_EQ(window.frame(), kFallbackScreenFrame);
  EXPECT_EQ(window.alpha(), 0);
  dim.show(platform.mainScreen(), 0.4);  // no screen: nothing
  EXPECT_FALSE(window.isVisible());

  platform.setScreen(Screen{{0, 0, 2560, 1440}, {0, 0, 2560, 1400}});
  dim.show(platform.mainScreen(), 0.4);
  EXPECT_EQ(window.frame(), (Rect{0, 0, 2560, 1440}));
  EXPECT_TRUE(window.isVisible());
  loop.advance(0.4);
  EXPECT_EQ(window.alpha(), 1);
  EXPECT_EQ(window.animations_.back().curve, Curve::kEaseOut);
  dim.hide(0.35);
  loop.advance(0.34);
  EXPECT_TRUE(window.isVisible());
  loop.advance(0.01);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.alpha(), 0);
  EXPECT_EQ(window.animations_.back().curve, Curve::kEaseIn);
}

TEST_F(ScreenDimPanelTest, ShowDuringFadeOutKeepsTheDimming) {
  ScreenDimPanel dim{platform};
  testing::FakeDimWindow& window = *platform.dim();
  dim.show(platform.mainScreen(), 0.4);
  loop.advance(1);
  dim.hide(0.35);
  loop.advance(0.2);
  dim.show(platform.mainScreen(), 0.4);
  loop.advance(1);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.alpha(), 1);
  // Hiding a hidden panel fades and orders out again without harm.
  dim.hide(0.35);
  loop.advance(0.35);
  dim.hide(0.35);
  loop.advance(0.35);
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace pilvo::overlay
