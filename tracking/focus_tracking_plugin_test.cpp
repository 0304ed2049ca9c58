#include "tracking/focus_tracking_plugin.h"

#include <gtest/gtest.h>

#include <optional>

#include "testing/fake_accessibility.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_tracking_platform.h"

namespace pilvo::tracking {
namespace {

using channels::FlutterMethodNotImplemented;
using channels::MethodResponse;
using channels::Value;
using channels::ValueList;

RunningApp app(std::optional<std::string> id, ActivationPolicy policy = ActivationPolicy::kRegular,
               uint64_t window = 0x100, int32_t pid = 100) {
  return RunningApp{.bundleId = std::move(id),
                    .localizedName = std::nullopt,
                    .pid = pid,
                    .activationPolicy = policy,
                    .window = window};
}

Value strings(std::initializer_list<const char*> items) {
  ValueList list;
  for (const char* s : items) list.emplace_back(s);
  return Value(std::move(list));
}

class FocusTrackingPluginTest : public ::testing::Test {
 protected:
  FocusTrackingPluginTest()
      : service_(std::make_shared<FocusTrackingService>(platform_, accessibility_, loop_)),
        plugin_(service_) {}

  MethodResponse call(const std::string& method, Value args = {}) {
    std::optional<MethodResponse> response;
    int answers = 0;
    plugin_.handleMethodCall({method, std::move(args)}, std::make_unique<channels::FlutterResult>(
                                                            [&](MethodResponse r) {
                                                              ++answers;
                                                              response = std::move(r);
                                                            },
                                                            method, [](const std::string&) {}));
    EXPECT_EQ(answers, 1) << method << " must be answered exactly once, at once";
    return response.value_or(channels::FlutterError{"NO_ANSWER"});
  }

  testing::FakeEventLoop loop_;
  testing::FakeTrackingPlatform platform_;
  testing::FakeAccessibility accessibility_;
  std::shared_ptr<FocusTrackingService> service_;
  FocusTrackingPlugin plugin_;
};

TEST_F(FocusTrackingPluginTest, ActiveAppNameFallsBackToUnknown) {
  EXPECT_EQ(call("getActiveAppName"), MethodResponse(Value("Unknown")));

  platform_.setFrontmost(app("org.gnome.TextEditor"));  // no localized name
  EXPECT_EQ(call("getActiveAppName"), MethodResponse(Value("Unknown")));

  RunningApp editor = app("org.gnome.TextEditor");
  editor.localizedName = "Text Editor";
  platform_.setFrontmost(editor);
  EXPECT_EQ(call("getActiveAppName", Value(ValueList{Value(1)})),
            MethodResponse(Value("Text Editor")));
}

TEST_F(FocusTrackingPluginTest, RunningAppListsKeepDesktopOrderAndDuplicates) {
  platform_.setRunning({
      app("firefox-esr", ActivationPolicy::kRegular, 0x1, 10),
      app(std::nullopt, ActivationPolicy::kRegular, 0x2, 11),
      app("com.pilvo.Pilvo", ActivationPolicy::kRegular, 0x3, 12),
      app("org.example.Tray", ActivationPolicy::kAccessory, 0x4, 13),
      app("org.example.Daemon", ActivationPolicy::kProhibited, 0, 14),
      app("firefox-esr", ActivationPolicy::kRegular, 0x5, 15),
      app("xterm", ActivationPolicy::kRegular, 0x6, 16),
  });
  EXPECT_EQ(call("getAllRunningApps"),
            MethodResponse(strings({"firefox-esr", "com.pilvo.Pilvo", "org.example.Tray",
                                    "org.example.Daemon", "firefox-esr", "xterm"})));
  EXPECT_EQ(call("getRunningAppBundleIds"),
            MethodResponse(strings({"firefox-esr", "firefox-esr", "xterm"})));

  // Without an own identifier nothing is excluded for being this program.
  platform_.setOwnBundleIdentifier(std::nullopt);
  EXPECT_EQ(call("getRunningAppBundleIds"),
            MethodResponse(strings({"firefox-esr", "com.pilvo.Pilvo", "firefox-esr", "xterm"})));
}

TEST_F(FocusTrackingPluginTest, EmptyDesktopGivesEmptyLists) {
  EXPECT_EQ(call("getAllRunningApps"), MethodResponse(Value(ValueList{})));
  EXPECT_EQ(call("getRunningAppBundleIds"), MethodResponse(Value(ValueList{})));
  EXPECT_EQ(call("indexAllApps"), MethodResponse(Value(ValueList{})));
}

TEST_F(FocusTrackingPluginTest, SupportPathAndPermissions) {
  platform_.setSupportPath("/tmp/data home");
  EXPECT_EQ(call("getAppSupportPath"), MethodResponse(Value("/tmp/data home")));

  EXPECT_EQ(call("hasPermissions"), MethodResponse(Value(true)));
  EXPECT_EQ(call("requestPermissions"), MethodResponse(Value()));
  EXPECT_EQ(accessibility_.trustRequests(), 0) << "already trusted: nothing is opened";

  accessibility_.setTrusted(false);
  EXPECT_EQ(call("hasPermissions"), MethodResponse(Value(false)));
  EXPECT_EQ(call("requestPermissions", Value("ignored")), MethodResponse(Value()));
  EXPECT_EQ(accessibility_.trustRequests(), 1);
}

TEST_F(FocusTrackingPluginTest, UnknownMethodsAreNotImplemented) {
  for (const char* method : {"", "getactiveappname", "activateApp ", "indexAllApps2"}) {
    EXPECT_EQ(call(method), MethodResponse(FlutterMethodNotImplemented{})) << method;
  }
}

TEST_F(FocusTrackingPluginTest, ActivateAppWithoutUsableIdAnswersFalseAndSchedulesNothing) {
  platform_.addInstalled("xterm");
  const Value badArguments[] = {
      Value(),
      Value("xterm"),
      Value(ValueList{Value("xterm")}),
      channels::makeMap({{"bundleID", "xterm"}}),
      channels::makeMap({{"bundleId", 42}}),
      channels::makeMap({{"bundleId", Value()}}),
      channels::makeMap({{"bundleId", Value(ValueList{Value("xterm")})}}),
  };
  for (const Value& args : badArguments) {
    EXPECT_EQ(call("activateApp", args), MethodResponse(Value(false))) << args.debugString();
  }
  EXPECT_EQ(loop_.activeTimerCount(), 0u);
  loop_.advance(5);
  EXPECT_EQ(platform_.openedCount(), 0);
}

TEST_F(FocusTrackingPluginTest, ActivateAppBringsRunningAppForwardAfterTheDelay) {
  RunningApp first = app("xterm", ActivationPolicy::kRegular, 0x30, 30);
  platform_.setRunning({app("firefox-esr", ActivationPolicy::kRegular, 0x20, 20),
                        app("xterm", ActivationPolicy::kRegular, 0, 29), first,
                        app("xterm", ActivationPolicy::kRegular, 0x40, 40)});
  platform_.addInstalled("xterm");

  EXPECT_EQ(call("activateApp", channels::makeMap({{"bundleId", "xterm"}, {"extra", 1}})),
            MethodResponse(Value(true)));
  loop_.advance(0.19);
  EXPECT_EQ(platform_.openedCount(), 0) << "the answer goes out before the focus moves";
  loop_.advance(0.01);
  ASSERT_EQ(platform_.activated().size(), 1u);
  EXPECT_EQ(platform_.activated()[0].window, first.window)
      << "the first instance in desktop order that has a window";
  EXPECT_TRUE(platform_.launched().empty());
  EXPECT_EQ(service_->pendingActivations(), 0u);
}

TEST_F(FocusTrackingPluginTest, ActivateAppLaunchesInstalledAppAndIgnoresUnknownOnes) {
  platform_.addInstalled("org.gnome.TextEditor");
  EXPECT_EQ(call("activateApp", channels::makeMap({{"bundleId", "org.gnome.TextEditor"}})),
            MethodResponse(Value(true)));
  EXPECT_EQ(call("activateApp", channels::makeMap({{"bundleId", "org.example.Missing"}})),
            MethodResponse(Value(true)));
  EXPECT_EQ(call("activateApp", channels::makeMap({{"bundleId", ""}})),
            MethodResponse(Value(true)));
  loop_.advance(0.2);
  EXPECT_EQ(platform_.launched(), std::vector<std::string>{"org.gnome.TextEditor"});
  EXPECT_TRUE(platform_.activated().empty());
}

TEST_F(FocusTrackingPluginTest, ActivationScheduledBeforeTheServiceEndsDoesNothing) {
  platform_.addInstalled("xterm");
  EXPECT_EQ(call("activateApp", channels::makeMap({{"bundleId", "xterm"}})),
            MethodResponse(Value(true)));
  auto service = std::make_unique<FocusTrackingService>(platform_, accessibility_, loop_);
  service->scheduleActivation("xterm");
  service.reset();
  loop_.advance(1);
  EXPECT_EQ(platform_.launched().size(), 1u) << "only the live service's activation runs";
}

}  // namespace
}  // namespace pilvo::tracking
