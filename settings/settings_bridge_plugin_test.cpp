#include "settings/settings_bridge_plugin.h"

#include <gtest/gtest.h>

#include "testing/fake_event_loop.h"
#include "testing/fake_settings_platform.h"

namespace pilvo::settings {
namespace {

using channels::FlutterError;
using channels::makeMap;
using channels::MethodResponse;
using channels::Value;
using channels::ValueList;
using channels::ValueMap;

class SettingsBridgePluginTest : public ::testing::Test {
 protected:
  // Sends a call; the answers it got so far (a save dialog answers later).
  std::shared_ptr<std::vector<MethodResponse>> send(const std::string& method, Value args = {}) {
    auto answers = std::make_shared<std::vector<MethodResponse>>();
    plugin_.handleMethodCall({method, std::move(args)},
                             std::make_unique<channels::FlutterResult>(
                                 [answers](MethodResponse r) { answers->push_back(std::move(r)); },
                                 method, [](const std::string&) {}));
    return answers;
  }
  MethodResponse call(const std::string& method, Value args = {}) {
    auto answers = send(method, std::move(args));
    EXPECT_EQ(answers->size(), 1u) << method << " must be answered exactly once, at once";
    return answers->empty() ? FlutterError{"NO_ANSWER"} : answers->front();
  }

  testing::FakeEventLoop loop_;
  testing::FakeSettingsPlatform platform_;
  std::vector<bool> menuBar_;
  std::shared_ptr<SettingsService> service_ = std::make_shared<SettingsService>(
      platform_, loop_, [this](bool visible) { menuBar_.push_back(visible); });
  SettingsBridgePlugin plugin_{service_};
};

TEST_F(SettingsBridgePluginTest, ArgumentsOfAnotherShapeAreRejectedAndNothingHappens) {
  const FlutterError enabled{"INVALID_ARGS", "Missing 'enabled'", Value()};
  const FlutterError visible{"INVALID_ARGS", "Missing 'visible'", Value()};
  const FlutterError name{"INVALID_ARGS", "Missing 'name'", Value()};
  struct Row {
    const char* method;
    Value args;
    FlutterError expected;
  };
  const std::vector<Row> rows = {
      {"setLaunchAtLogin", Value(), enabled},
      {"setLaunchAtLogin", makeMap({{"enabled", "true"}}), enabled},
      {"setLaunchAtLogin", makeMap({{"enabled", 1}}), enabled},
      {"setLaunchAtLogin", makeMap({{"visible", true}}), enabled},
      {"setLaunchAtLogin", ValueList{Value(true)}, enabled},
      {"setLaunchAtLogin", ValueMap{{Value(1), Value(true)}}, enabled},
      {"setMenuBarVisible", Value(), visible},
      {"setMenuBarVisible", makeMap({{"visible", Value()}}), visible},
      {"setMenuBarVisible", makeMap({{"visible", 0.0}}), visible},
      {"setMenuBarVisible", Value(true), visible},
      {"showSavePanel", Value(), name},
      {"showSavePanel", makeMap({{"name", 42}}), name},
      {"showSavePanel", makeMap({{"name", ValueList{Value("a.json")}}}), name},
      {"showSavePanel", Value("a.json"), name},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(call(row.method, row.args), MethodResponse(row.expected))
        << row.method << "(" << row.args.debugString() << ")";
  }
  loop_.runUntilIdle();
  EXPECT_TRUE(platform_.launchRequests.empty());
  EXPECT_TRUE(menuBar_.empty());
  EXPECT_TRUE(platform_.openedPanels.empty());
  EXPECT_EQ(call("setlaunchatlogin", makeMap({{"enabled", true}})),
            MethodResponse(channels::FlutterMethodNotImplemented{}));
}

TEST_F(SettingsBridgePluginTest, LaunchAtLoginAnswersAtOnceWithTheSystemsDescriptionOnFailure) {
  EXPECT_EQ(call("setLaunchAtLogin", makeMap({{"enabled", true}})), MethodResponse(Value()));
  platform_.launchFailure = "Failed to rename file: Permission denied";
  EXPECT_EQ(call("setLaunchAtLogin", makeMap({{"enabled", false}})),
            MethodResponse(FlutterError{"LAUNCH_AT_LOGIN_FAILED",
                                        "Failed to rename file: Permission denied", Value()}));
  EXPECT_EQ(platform_.launchRequests, (std::vector<bool>{true, false}));
}

TEST_F(SettingsBridgePluginTest, MenuBarVisibilityAnswersNilWithOrWithoutAMenuBar) {
  EXPECT_EQ(call("setMenuBarVisible", makeMap({{"visible", false}})), MethodResponse(Value()));
  EXPECT_EQ(menuBar_, std::vector<bool>{false});

  SettingsBridgePlugin withoutMenuBar{std::make_shared<SettingsService>(platform_, loop_)};
  std::vector<MethodResponse> answers;
  withoutMenuBar.handleMethodCall(
      {"setMenuBarVisible", makeMap({{"visible", true}})},
      std::make_unique<channels::FlutterResult>(
          [&](MethodResponse r) { answers.push_back(std::move(r)); }, "", nullptr));
  EXPECT_EQ(answers, std::vector<MethodResponse>{Value()});
}

TEST_F(SettingsBridgePluginTest, SavePanelAnswersWhenClosedAndOpensOneDialogAtATime) {
  auto first = send("showSavePanel", makeMap({{"name", "focus.json"}}));
  auto second = send("showSavePanel", makeMap({{"name", "week.json"}}));
  // The dialog opens on the next turn of the loop; other calls are served meanwhile.
  EXPECT_EQ(platform_.openPanelCount(), 0u);
  loop_.runUntilIdle();
  EXPECT_EQ(platform_.openedPanels, std::vector<std::string>{"focus.json"});
  EXPECT_EQ(call("setMenuBarVisible", makeMap({{"visible", true}})), MethodResponse(Value()));
  EXPECT_TRUE(first->empty());

  ASSERT_TRUE(platform_.closePanel("/home/u/focus.json"));
  EXPECT_EQ(*first, std::vector<MethodResponse>{Value("/home/u/focus.json")});
  EXPECT_TRUE(second->empty());
  EXPECT_EQ(platform_.openedPanels, (std::vector<std::string>{"focus.json", "week.json"}));

  ASSERT_TRUE(platform_.closePanel(std::nullopt));  // cancelled
  EXPECT_EQ(*second, std::vector<MethodResponse>{Value()});
  loop_.runUntilIdle();
  EXPECT_EQ(platform_.openPanelCount(), 0u);
}

}  // namespace
}  // namespace pilvo::settings
