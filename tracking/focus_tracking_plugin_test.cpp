#include "tracking/focus_tracking_plugin.h"

#include <gtest/gtest.h>

#include <optional>

#include "testing/fake_accessibility.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_tracking_platform.h"

namespace pilvo::tracking {
namespace {

using channels::makeMap;
using channels::MethodResponse;
using channels::Value;
using channels::ValueList;
using enum ActivationPolicy;
const MethodResponse kNotImplemented = channels::FlutterMethodNotImplemented{};

RunningApp app(const char* id, uint64_t window = 0x100, ActivationPolicy policy = kRegular) {
  return RunningApp{.bundleId = id ? std::optional<std::string>(id) : std::nullopt,
                    .pid = static_cast<int32_t>(window),
                    .activationPolicy = policy,
                    .window = window};
}

class FocusTrackingPluginTest : public ::testing::Test {
 protected:
  MethodResponse call(const std::string& method, Value args = {}) {
    std::vector<MethodResponse> answers;
    plugin_.handleMethodCall({method, std::move(args)},
                             std::make_unique<channels::FlutterResult>(
                                 [&](MethodResponse r) { answers.push_back(std::move(r)); }, method,
                                 [](const std::string&) {}));
    EXPECT_EQ(answers.size(), 1u) << method << " must be answered exactly once, at once";
    return answers.empty() ? channels::FlutterError{"NO_ANSWER"} : answers[0];
  }

  struct Row {
    const char* method;
    MethodResponse expected;
    Value args = {};
  };
  void expectAnswers(const std::vector<Row>& rows) {
    for (const auto& [method, expected, args] : rows) {
      EXPECT_EQ(call(method, args), expected) << method << "(" << args.debugString() << ")";
    }
  }

  testing::FakeEventLoop loop_;
  testing::FakeTrackingPlatform platform_;
  testing::FakeAccessibility accessibility_;
  std::shared_ptr<FocusTrackingService> service_ =
      std::make_shared<FocusTrackingService>(platform_, accessibility_, loop_);
  FocusTrackingPlugin plugin_{service_};
};

TEST_F(FocusTrackingPluginTest, EveryMethodAnswersFromTheDesktopOrFallsBack) {
  // An empty desktop and a trusted process. (The plain answers of the real
  // desktop, support path and index included, are proven by pilvo_integration_test.)
  const Value none = ValueList{};
  expectAnswers({{"getActiveAppName", Value("Unknown")},
                 {"getAllRunningApps", Value(ValueList{"com.pilvo.Pilvo"})},
                 {"getRunningAppBundleIds", none},
                 {"requestPermissions", Value()},
                 {"", kNotImplemented},
                 {"getactiveappname", kNotImplemented}});
  EXPECT_EQ(accessibility_.trustRequests(), 0) << "already trusted: nothing is opened";

  // Desktop order and duplicates are kept; the regular list leaves out
  // nameless, non-regular and own applications.
  platform_.running = {app("firefox-esr", 1),
                       app(nullptr, 2),
                       app("com.pilvo.Pilvo", 3),
                       app("org.example.Tray", 4, kAccessory),
                       app("org.example.Daemon", 0, kProhibited),
                       app("firefox-esr", 5)};
  platform_.frontmost = app("org.gnome.TextEditor");  // without a name
  accessibility_.setTrusted(false);
  expectAnswers(
      {{"getActiveAppName", Value("Unknown")},
       {"getAllRunningApps", Value(ValueList{"firefox-esr", "com.pilvo.Pilvo", "org.example.Tray",
                                             "org.example.Daemon", "firefox-esr"})},
       {"getRunningAppBundleIds", Value(ValueList{"firefox-esr", "firefox-esr"})},
       {"hasPermissions", Value(false)},
       {"requestPermissions", Value(), Value("ignored")}});
  EXPECT_EQ(accessibility_.trustRequests(), 1);

  // Without an own identifier nothing is left out for being this program.
  platform_.own.bundleId.reset();
  expectAnswers({{"getRunningAppBundleIds",
                  Value(ValueList{"firefox-esr", "com.pilvo.Pilvo", "firefox-esr"})}});
}

TEST_F(FocusTrackingPluginTest, ThisProgramIsListedOnceWhileItRunsWindowShownOrNot) {
  RunningApp own = platform_.own;  // regular, with name and pid, whatever its windows say
  RunningApp shown = own;
  shown.window = 0x50;
  auto ownWindow = [](int32_t pid, uint64_t window, ActivationPolicy policy) {
    RunningApp a = app("com.pilvo.Pilvo", window, policy);
    a.pid = pid;
    a.localizedName = "com.pilvo.Pilvo";
    return a;
  };
  RunningApp shownElsewhere = own;
  shownElsewhere.window = 0x60;
  struct Row {
    std::vector<RunningApp> desktop;
    std::vector<RunningApp> listed;
    ValueList regular;  // getRunningAppBundleIds: never this program, shown or not
  };
  const Row rows[] = {
      // Window closed: listed last.
      {{}, {own}, {}},
      // Window shown (perhaps only a panel that skips the taskbar, or one whose
      // process the desktop names differently): in the window's place, once.
      {{app("xterm", 1), ownWindow(77, 0x60, kRegular)},
       {app("xterm", 1), shownElsewhere},
       {"xterm"}},
      {{app("xterm", 1), ownWindow(4242, 0x50, kAccessory), app("firefox-esr", 2)},
       {app("xterm", 1), shown, app("firefox-esr", 2)},
       {"xterm", "firefox-esr"}},
      {{ownWindow(0, 0x50, kRegular), app("xterm", 1), ownWindow(4242, 0x51, kAccessory)},
       {shown, app("xterm", 1)},
       {"xterm"}},
  };
  for (const auto& [desktop, expected, regular] : rows) {
    platform_.running = desktop;
    const std::vector<RunningApp> listed = service_->runningApplications();
    ASSERT_EQ(listed.size(), expected.size());
    ValueList ids;
    for (size_t i = 0; i < listed.size(); ++i) {
      EXPECT_TRUE(listed[i].sameApplication(expected[i]) && listed[i].pid == expected[i].pid &&
                  listed[i].localizedName == expected[i].localizedName &&
                  listed[i].activationPolicy == expected[i].activationPolicy &&
                  listed[i].window == expected[i].window)
          << "entry " << i << " with " << desktop.size() << " on the desktop";
      ids.emplace_back(*listed[i].bundleId);
    }
    expectAnswers({{"getAllRunningApps", Value(ids)}, {"getRunningAppBundleIds", Value(regular)}});
  }
}

TEST_F(FocusTrackingPluginTest, ActivateAppOpensOnlyKnownAppsAndOnlyAfterTheDelay) {
  platform_.running = {app("firefox-esr", 0x20), app("xterm", 0), app("xterm", 0x30),
                       app("xterm", 0x40)};
  platform_.installed = {"xterm", "org.gnome.TextEditor"};
  // No usable identifier: false, and nothing is scheduled.
  for (const Value& args :
       {Value(), Value("xterm"), Value(ValueList{"xterm"}), makeMap({{"bundleID", "xterm"}}),
        makeMap({{"bundleId", 42}}), makeMap({{"bundleId", Value()}}),
        makeMap({{"bundleId", Value(ValueList{"xterm"})}})}) {
    EXPECT_EQ(call("activateApp", args), MethodResponse(Value(false))) << args.debugString();
  }
  EXPECT_EQ(loop_.activeTimerCount(), 0u);
  // Any identifier is answered true at once, before the focus moves.
  for (const char* id : {"org.example.Missing", "", "xterm", "org.gnome.TextEditor"}) {
    EXPECT_EQ(call("activateApp", makeMap({{"bundleId", id}, {"extra", 1}})),
              MethodResponse(Value(true)));
  }
  loop_.advance(0.19);
  EXPECT_TRUE(platform_.activated.empty() && platform_.launched.empty());
  // Then the first running instance with a window comes forward, an installed
  // app is launched, and an unknown identifier opens nothing.
  loop_.advance(0.01);
  EXPECT_EQ(platform_.activated, std::vector<uint64_t>{0x30});
  EXPECT_EQ(platform_.launched, std::vector<std::string>{"org.gnome.TextEditor"});
  EXPECT_EQ(service_->pendingActivations(), 0u);

  // An activation scheduled by a service that has ended does nothing.
  auto ended = std::make_unique<FocusTrackingService>(platform_, accessibility_, loop_);
  ended->scheduleActivation("org.gnome.TextEditor");
  ended.reset();
  loop_.advance(1);
  EXPECT_EQ(platform_.launched.size(), 1u);
}

}  // namespace
}  // namespace pilvo::tracking
