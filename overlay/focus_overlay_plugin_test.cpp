#include "overlay/focus_overlay_plugin.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "channels/standard_codec.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_flutter_ui.h"
#include "testing/fake_overlay_platform.h"

namespace pilvo::overlay {
namespace {

using channels::makeMap;
using channels::MethodResponse;
using channels::Value;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class FocusOverlayPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FocusOverlayPlugin::registerWith(engine_.registrarForPlugin("TavikPlugins"), platform_,
                                     [this](host::HostLogLevel, std::string_view line) {
                                       log_.emplace_back(line);
                                       if (onLog_) onLog_(line);
                                     });
    loop_.runUntilIdle();
    platform_.panel()->finishLoad();
    loop_.runUntilIdle();
    platform_.panel()->takeScripts();
    log_.clear();
  }

  // Sends a call as the interface would; its answer once the loop has run.
  MethodResponse call(const std::string& method, Value args = {}) {
    auto reply =
        ui_.sendRaw(kOverlayChannelName, channels::encodeMethodCall({method, std::move(args)}));
    loop_.runUntilIdle();
    if (!*reply) return channels::FlutterError{"NO_ANSWER"};
    return *channels::decodeMethodResponse(**reply).value;
  }

  testing::FakeEventLoop loop_;
  testing::FakeOverlayPlatform platform_{loop_};
  channels::FlutterEngine engine_{loop_, [](const std::string&) {}};
  testing::FakeFlutterUi ui_{engine_.binaryMessenger()};
  std::vector<std::string> log_;
  std::function<void(std::string_view)> onLog_;
};

const MethodResponse kNull = Value();
MethodResponse invalid(const char* message) {
  return channels::FlutterError{"INVALID_ARGS", message, {}};
}

TEST_F(FocusOverlayPluginTest, ArgumentsAreCheckedAndEveryCallAnsweredAtOnce) {
  struct Row {
    const char* method;
    Value args;
    MethodResponse expected;
  };
  const std::vector<Row> rows = {
      {"showOverlay", Value(), invalid("Message required")},
      {"showOverlay", channels::ValueList{Value("Hi")}, invalid("Message required")},
      {"showOverlay", makeMap({{"message", 5}}), invalid("Message required")},
      {"showOverlay", makeMap({{"message", ""}}), kNull},
      {"updateAvatarState", makeMap({}), invalid("State required")},
      {"updateAvatarState", makeMap({{"state", "happy"}}), kNull},
      {"updateMessage", makeMap({{"message", true}}), invalid("Message required")},
      {"updateMessage", makeMap({{"message", "x"}}), kNull},
      {"hideOverlay", Value(), kNull},
      {"dimScreen", Value(), channels::FlutterMethodNotImplemented{}},
  };
  for (const Row& row : rows) {
    log_.clear();
    EXPECT_EQ(call(row.method, row.args), row.expected) << row.method << row.args.debugString();
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_.front(), std::string("Tavik: Overlay method called: ") + row.method);
    const bool showError = std::string(row.method) == "showOverlay" &&
                           std::holds_alternative<channels::FlutterError>(row.expected);
    EXPECT_EQ(log_.size() > 1 && log_[1] == "Tavik: ERROR - Invalid args for showOverlay",
              showError)
        << row.method;
  }
}

TEST_F(FocusOverlayPluginTest, ShowOverlayDefaultsToThreeSecondsTopRightAlertWithoutButtons) {
  call("showOverlay", makeMap({{"message", "Hi"}}));
  EXPECT_EQ(log_[1], "Tavik: Showing overlay - Hi (buttons: false, buttonMode: )");
  testing::FakePanelWindow& panel = *platform_.panel();
  EXPECT_TRUE(platform_.dim()->isVisible());
  EXPECT_EQ(platform_.dim()->animations_.back().seconds, 0.4);
  loop_.advance(0.5);
  EXPECT_EQ(panel.frame().origin(), (Point{1160, 380}));
  EXPECT_THAT(panel.takeScripts(),
              ElementsAre("setState('peeking')", "showMessage('Hi', 'nagging', false)"));
  loop_.advance(3.0);  // 3.5 s
  EXPECT_TRUE(panel.isVisible());
  EXPECT_EQ(platform_.dim()->animations_.size(), 1u);
  loop_.advance(0.125);  // 3.625 s
  EXPECT_EQ(platform_.dim()->animations_.back().toAlpha, 0);
  EXPECT_EQ(platform_.dim()->animations_.back().seconds, 0.35);
  loop_.advance(0.35);
  EXPECT_FALSE(panel.isVisible());
  EXPECT_FALSE(platform_.dim()->isVisible());
}

TEST_F(FocusOverlayPluginTest, UnknownStringsAndWholeNumbersTakeTheirFallbacks) {
  call("showOverlay", makeMap({{"message", "m"},
                               {"position", "middle"},
                               {"avatarState", "happy"},
                               {"durationSeconds", 10},
                               {"showButtons", true}}));
  testing::FakePanelWindow& panel = *platform_.panel();
  loop_.advance(0.5);
  EXPECT_EQ(panel.frame().origin(), (Point{1160, 380}));
  EXPECT_EQ(panel.takeScripts().back(), "showMessage('m', 'nagging', 'nudge')");
  loop_.advance(10.0);
  EXPECT_THAT(log_, ::testing::Not(::testing::Contains("Tavik: Auto-dismissing overlay")));
  loop_.advance(0.125);
  EXPECT_THAT(log_, ::testing::Contains("Tavik: Auto-dismissing overlay"));
  loop_.advance(0.35);

  call("updateAvatarState", makeMap({{"state", "celebrating"}}));
  call("updateAvatarState", makeMap({{"state", "happy"}}));
  EXPECT_THAT(panel.takeScripts(),
              ElementsAre("setState('idle')", "setState('proud')", "setState('nagging')"));
}

TEST_F(FocusOverlayPluginTest, AnswerFadesTheDimmingThenTellsTheInterfaceThenSlidesOut) {
  call("showOverlay", makeMap({{"message", "Time to refocus?"}, {"showButtons", true}}));
  loop_.advance(1);
  testing::FakePanelWindow& panel = *platform_.panel();
  testing::FakeDimWindow& dim = *platform_.dim();
  const size_t dimAnimations = dim.animations_.size();
  const size_t panelAnimations = panel.animations_.size();
  bool checked = false;
  onLog_ = [&](std::string_view line) {
    if (line != "Tavik: Sent nudgeResponse to Dart \u2014 focus") return;
    checked = true;
    EXPECT_EQ(dim.animations_.size(), dimAnimations + 1);
    EXPECT_EQ(panel.animations_.size(), panelAnimations);
    EXPECT_THAT(ui_.callsOn(kOverlayChannelName), ::testing::IsEmpty());  // sent, not yet read
  };
  panel.post("nudgeResponse", "focus");
  EXPECT_TRUE(checked);
  EXPECT_EQ(panel.animations_.size(), panelAnimations + 1);
  loop_.runUntilIdle();
  EXPECT_THAT(ui_.callsOn(kOverlayChannelName),
              ElementsAre(channels::FlutterMethodCall{"nudgeResponse", Value("focus")}));
  loop_.advance(0.35);
  EXPECT_FALSE(panel.isVisible());
  EXPECT_FALSE(dim.isVisible());
}

TEST_F(FocusOverlayPluginTest, ANudgeRightAfterTheLastOneEndedKeepsItsDimming) {
  call("showOverlay", makeMap({{"message", "one"}}));
  loop_.advance(1);
  call("hideOverlay");
  loop_.advance(0.2);
  call("showOverlay", makeMap({{"message", "two"}}));
  loop_.advance(1);
  EXPECT_TRUE(platform_.dim()->isVisible());
  EXPECT_EQ(platform_.dim()->alpha(), 1);
  EXPECT_TRUE(platform_.panel()->isVisible());
}

TEST_F(FocusOverlayPluginTest, AnyArgumentsGetOneAnswerAndNeverBreakThePanels) {
  std::mt19937 random(20261207);
  const std::vector<Value> values = {Value(),
                                     true,
                                     0,
                                     -1,
                                     int64_t{1} << 40,
                                     std::nan(""),
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::infinity(),
                                     1e308,
                                     -5.5,
                                     "",
                                     "it's\\\r\n\u2028",
                                     "topLeft",
                                     "celebrating",
                                     "nudge",
                                     channels::ValueList{Value(1)},
                                     std::vector<uint8_t>{1, 2}};
  const std::vector<std::string> keys = {"message",     "durationSeconds", "position",
                                         "avatarState", "showButtons",     "buttonMode",
                                         "state"};
  const std::vector<std::string> methods = {"showOverlay", "hideOverlay", "updateAvatarState",
                                            "updateMessage"};
  for (int round = 0; round < 300; ++round) {
    channels::ValueMap map;
    for (const std::string& key : keys) {
      if (random() % 2) map.emplace_back(Value(key), values[random() % values.size()]);
    }
    const Value args = random() % 5 ? Value(map) : values[random() % values.size()];
    const std::string& method = methods[random() % methods.size()];
    const MethodResponse answer = call(method, args);
    EXPECT_FALSE(std::holds_alternative<channels::FlutterError>(answer) &&
                 std::get<channels::FlutterError>(answer).code == "NO_ANSWER")
        << method << args.debugString();
    loop_.advance(double(random() % 1000) / 100);
  }
  loop_.advance(86400 * 2);
  EXPECT_FALSE(platform_.panel()->isVisible());
  EXPECT_FALSE(platform_.dim()->isVisible());
}

}  // namespace
}  // namespace pilvo::overlay
