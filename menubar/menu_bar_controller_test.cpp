#include "menubar/menu_bar_controller.h"

#include <gtest/gtest.h>

#include "channels/standard_codec.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_flutter_ui.h"
#include "testing/fake_tray_platform.h"

namespace pilvo::menubar {
namespace {

using channels::makeMap;
using channels::MethodResponse;
using channels::Value;
using channels::ValueMap;

class MenuBarControllerTest : public ::testing::Test {
 protected:
  MenuBarControllerTest() {
    controller_ =
        MenuBarController::registerWith(engine_.registrarForPlugin("TavikPlugins"), &tray_,
                                        {[this] { ++opened_; }, [this] { ++quits_; }});
  }

  // A call from the interface, answered once the loop has run.
  MethodResponse call(const std::string& channel, const std::string& method, Value args = {}) {
    auto reply = ui_.sendRaw(channel, channels::encodeMethodCall({method, std::move(args)}));
    loop_.runUntilIdle();
    if (!*reply) return channels::FlutterError{"NO_ANSWER"};
    if ((*reply)->empty()) return channels::FlutterMethodNotImplemented{};
    return *channels::decodeMethodResponse(**reply).value;
  }
  MethodResponse menubar(const std::string& method, Value args = {}) {
    return call(kMenuBarChannelName, method, std::move(args));
  }
  // The events the interface received since the last look.
  std::vector<Value> events() {
    std::vector<Value> values;
    for (const auto& message : ui_.take()) {
      if (message.channel != kMenuBarEventsChannelName) continue;
      values.push_back(std::get<Value>(*channels::decodeMethodResponse(message.bytes).value));
    }
    return values;
  }

  testing::FakeEventLoop loop_;
  channels::FlutterEngine engine_{loop_, [](const std::string&) {}};
  testing::FakeFlutterUi ui_{engine_.binaryMessenger()};
  testing::FakeTrayPlatform tray_;
  int opened_ = 0;
  int quits_ = 0;
  std::shared_ptr<MenuBarController> controller_;
};

const MethodResponse kNil = Value();

TEST_F(MenuBarControllerTest, RegistrationShowsAPlainItemAndPublishesTheController) {
  EXPECT_EQ(engine_.registrationLog(),
            (std::vector<std::string>{"registrar:TavikPlugins", "channel:com.tavik/menubar",
                                      "eventChannel:com.tavik/menubar_events",
                                      "delegate:TavikPlugins:com.tavik/menubar"}));
  ASSERT_EQ(tray_.items.size(), 1u);
  EXPECT_TRUE(tray_.items[0]->present);
  EXPECT_FALSE(tray_.items[0]->tint);
  EXPECT_FALSE(tray_.items[0]->dimmed);
  EXPECT_EQ(MenuBarController::shared(), controller_);
}

TEST_F(MenuBarControllerTest, ArgumentsCountOnlyWithTheirTypeAndWholeNumbers) {
  struct Case {
    const char* method;
    Value args;
    MenuState expected;
    double progress = 0.0;
  };
  const std::vector<Case> cases = {
      {"updateScore", makeMap({{"score", 70.0}}), {.score = 70}},
      {"updateScore", makeMap({{"score", 70.5}}), {}},
      {"updateScore", makeMap({{"score", "70"}}), {}},
      {"updateScore", ValueMap{}, {}},
      {"updateScore", Value(), {}},
      {"updateScore", Value(70), {}},
      {"updatePopover", makeMap({{"switches", 4}}), {.switches = 4}},
      {"updatePopover",
       makeMap({{"score", 90},
                {"focusState", "flow"},
                {"deepWork", int64_t{1} << 40},
                {"switches", true},
                {"isTracking", true}}),
       {.score = 90, .focusState = "flow", .deepWork = int64_t{1} << 40, .isTracking = true}},
      {"updatePopover", makeMap({{"focusState", 3}, {"isTracking", 1}}), {}},
      {"updateTrackingState", makeMap({{"isTracking", true}}), {.isTracking = true}},
      {"updateTrackingState", makeMap({{"isTracking", "true"}}), {}},
      {"updateSessionInMenuBar",
       makeMap({{"isActive", true}, {"remaining", 1500.0}, {"progress", 1}}),
       {.sessionActive = true, .sessionRemaining = 1500},
       1.0},
      {"updateSessionInMenuBar", makeMap({{"remaining", 1.5}, {"progress", "x"}}), {}},
  };
  for (const Case& c : cases) {
    testing::FakeEventLoop loop;
    channels::FlutterEngine engine{loop, [](const std::string&) {}};
    testing::FakeTrayPlatform tray;
    auto controller = MenuBarController::registerWith(engine.registrarForPlugin("k"), &tray, {});
    std::vector<MethodResponse> answers;
    controller->handleMethodCall({c.method, c.args},
                                 std::make_unique<channels::FlutterResult>(
                                     [&](MethodResponse r) { answers.push_back(std::move(r)); },
                                     c.method, [](const std::string&) {}));
    const std::string what = std::string(c.method) + c.args.debugString();
    EXPECT_EQ(answers, std::vector<MethodResponse>{kNil}) << what;
    const MenuState& s = controller->state();
    EXPECT_EQ(
        std::tie(s.score, s.focusState, s.deepWork, s.switches, s.isTracking, s.sessionActive,
                 s.sessionRemaining),
        std::tie(c.expected.score, c.expected.focusState, c.expected.deepWork, c.expected.switches,
                 c.expected.isTracking, c.expected.sessionActive, c.expected.sessionRemaining))
        << what;
    EXPECT_EQ(controller->sessionProgress(), c.progress) << what;
  }
  EXPECT_EQ(menubar("updatescore", makeMap({{"score", 1}})),
            MethodResponse(channels::FlutterMethodNotImplemented{}));
}

TEST_F(MenuBarControllerTest, TintAndDimmingFollowOnlyTheirOwnMethodsAfterTheReply) {
  const auto item = tray_.current();
  for (const auto& [score, tint] : std::vector<std::pair<int, TrayTint>>{{70, TrayTint::kGreen},
                                                                         {69, TrayTint::kOrange},
                                                                         {40, TrayTint::kOrange},
                                                                         {39, TrayTint::kRed},
                                                                         {0, TrayTint::kRed},
                                                                         {-5, TrayTint::kRed}}) {
    EXPECT_EQ(menubar("updateScore", makeMap({{"score", score}})), kNil);
    EXPECT_EQ(item->tint, tint) << score;
  }
  EXPECT_EQ(item->tooltip, "Pilvo \u2014 Focus -5");

  // The menu's figures and its tracking word do not touch the icon.
  menubar("updatePopover", makeMap({{"score", 90}, {"isTracking", false}}));
  EXPECT_EQ(item->tint, TrayTint::kRed);
  EXPECT_FALSE(item->dimmed);
  menubar("updateTrackingState", makeMap({{"isTracking", false}}));
  EXPECT_TRUE(item->dimmed);

  // The look changes on the next turn of the loop, after the reply.
  controller_->updateStatusIcon(80);
  EXPECT_EQ(item->tint, TrayTint::kRed);
  loop_.runUntilIdle();
  EXPECT_EQ(item->tint, TrayTint::kGreen);
}

TEST_F(MenuBarControllerTest, HidingRemovesTheItemAndShowingBringsBackAPlainOne) {
  menubar("updateScore", makeMap({{"score", 80}}));
  menubar("updateTrackingState", makeMap({{"isTracking", false}}));
  controller_->setVisible(false);
  EXPECT_TRUE(controller_->hasStatusItem()) << "hiding waits for the loop";
  loop_.runUntilIdle();
  EXPECT_FALSE(tray_.items[0]->present);
  EXPECT_FALSE(controller_->hasStatusItem());

  // While hidden: values are stored, nothing is shown, the menu is dropped.
  menubar("updateScore", makeMap({{"score", 20}}));
  EXPECT_EQ(menubar("showPopover"), kNil);
  EXPECT_EQ(controller_->state().score, 20);
  EXPECT_TRUE(tray_.items[0]->menus.empty());

  controller_->setVisible(true);
  controller_->setVisible(true);
  loop_.runUntilIdle();
  ASSERT_EQ(tray_.items.size(), 2u) << "a second show does nothing";
  EXPECT_FALSE(tray_.items[1]->tint);
  EXPECT_FALSE(tray_.items[1]->dimmed);
}

TEST_F(MenuBarControllerTest, CommandsReachTheLatestListenerOnlyAndChangeNoField) {
  tray_.click();
  EXPECT_TRUE(tray_.choose("Start Deep Session"));
  EXPECT_TRUE(events().empty()) << "no listener: dropped, not queued";

  EXPECT_EQ(call(kMenuBarEventsChannelName, "listen"), kNil);
  EXPECT_EQ(call(kMenuBarEventsChannelName, "listen", Value(2)), kNil);  // replaces the first
  tray_.click();
  EXPECT_TRUE(tray_.choose("Start Deep Session"));
  EXPECT_TRUE(tray_.choose("Resume Tracking"));
  EXPECT_FALSE(tray_.choose("Pilvo")) << "the header cannot be chosen";
  menubar("updateSessionInMenuBar", makeMap({{"isActive", true}}));
  tray_.click();
  EXPECT_TRUE(tray_.choose("End Session"));
  loop_.runUntilIdle();
  EXPECT_EQ(events(), (std::vector<Value>{"startSession", "toggleTracking", "endSession"}));
  EXPECT_FALSE(controller_->state().isTracking);

  EXPECT_TRUE(tray_.choose("Open Pilvo"));
  EXPECT_TRUE(tray_.choose("Quit Pilvo"));
  EXPECT_EQ(std::pair(opened_, quits_), std::pair(1, 1));

  EXPECT_EQ(call(kMenuBarEventsChannelName, "cancel"), kNil);
  tray_.click();
  tray_.choose("End Session");
  loop_.runUntilIdle();
  EXPECT_TRUE(events().empty());
}

TEST(MenuBarControllerLifeTest, PostedWorkOfAGoneControllerDoesNothing) {
  testing::FakeEventLoop loop;
  testing::FakeTrayPlatform tray;
  auto controller = std::make_shared<MenuBarController>(&tray, loop, AppCommands{});
  controller->setVisible(true);
  controller->updateStatusIcon(90);
  controller->updateTrackingIndicator(false);
  controller.reset();
  loop.runUntilIdle();
  ASSERT_EQ(tray.items.size(), 1u);
  EXPECT_FALSE(tray.items[0]->present);
  EXPECT_FALSE(tray.items[0]->tint);
}

}  // namespace
}  // namespace pilvo::menubar
