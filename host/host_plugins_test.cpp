#include "host/host_plugins.h"

#include <gtest/gtest.h>

#include "channels/standard_codec.h"
#include "host/host_test_support.h"
#include "testing/fake_flutter_ui.h"
#include "testing/temp_dir.h"

namespace pilvo::host {
namespace {

// The channels' answers are proven end to end by host_window_test and
// pilvo_integration_test; here only the start-up order, which nothing else sees.
TEST(HostStartUpTest, RegistersStandardPluginsThenOwnPluginsThenSidebar) {
  test::FakeHost host;
  host.start();

  std::vector<std::string> expected;
  for (const char* registrar :
       {"AppLinksMacosPlugin", "ConnectivityPlusPlugin", "FlutterLocalNotificationsPlugin",
        "FPPPackageInfoPlusPlugin", "PathProviderPlugin", "SharedPreferencesPlugin",
        "SignInWithApplePlugin", "Sqlite3FlutterLibsPlugin", "UrlLauncherPlugin",
        "FVPVideoPlayerPlugin", "TavikPlugins"}) {
    expected.push_back(std::string("registrar:") + registrar);
  }
  expected.insert(expected.end(),
                  {"channel:com.tavik/tracking", "delegate:TavikPlugins:com.tavik/tracking",
                   "channel:com.tavik/overlay", "delegate:TavikPlugins:com.tavik/overlay",
                   "channel:com.tavik/menubar", "eventChannel:com.tavik/menubar_events",
                   "delegate:TavikPlugins:com.tavik/menubar", "channel:com.tavik/settings",
                   "delegate:TavikPlugins:com.tavik/settings", "channel:com.pilvo/updater",
                   "delegate:TavikPlugins:com.pilvo/updater", "channel:com.pilvo/activity",
                   "delegate:TavikPlugins:com.pilvo/activity", "channel:com.pilvo/interface",
                   "delegate:TavikPlugins:com.pilvo/interface", "channel:com.tavik/sidebar"});
  EXPECT_EQ(host.engine.registrationLog(), expected);
}

// The one reference between services: the settings channel shows and hides
// the menu bar's item.
TEST(HostStartUpTest, SettingsShowAndHideTheMenuBarItem) {
  test::FakeHost host;
  host.start();
  testing::FakeFlutterUi ui(host.engine.binaryMessenger());
  const auto setVisible = [&](bool visible) {
    channels::ValueMap args{{"visible", channels::Value(visible)}};
    ui.sendRaw("com.tavik/settings",
               channels::encodeMethodCall({"setMenuBarVisible", channels::Value(args)}));
    host.loop.runUntilIdle();
  };
  ASSERT_NE(host.tray.current(), nullptr);
  setVisible(false);
  EXPECT_EQ(host.tray.current(), nullptr);
  setVisible(true);
  ASSERT_NE(host.tray.current(), nullptr);
  EXPECT_EQ(host.tray.items.size(), 2u) << "a new item, not the old one";
}

// The interface writes a file only where a save dialog of this start-up
// pointed: the path the settings channel returned, not a cancelled dialog's.
TEST(HostStartUpTest, WriteTextFileFollowsTheSaveDialog) {
  test::FakeHost host;
  host.settingsPlatform.cancelAtOnce = false;
  host.start();
  testing::FakeFlutterUi ui(host.engine.binaryMessenger());
  using channels::makeMap;
  using channels::Value;
  auto send = [&](const char* channel, const char* method, Value args) {
    auto reply = ui.sendRaw(channel, channels::encodeMethodCall({method, std::move(args)}));
    host.loop.runUntilIdle();
    return *channels::decodeMethodResponse(**reply).value;
  };
  const std::string chosen = host.dir.file("focus.json");
  const Value write = makeMap({{"path", chosen}, {"text", "{}"}});
  auto refused = send("com.pilvo/interface", "writeTextFile", write);
  EXPECT_EQ(std::get<channels::FlutterError>(refused).code, "PATH_NOT_ALLOWED");

  auto dialog = ui.sendRaw("com.tavik/settings",
                           channels::encodeMethodCall({"showSavePanel", makeMap({{"name", "f"}})}));
  host.loop.runUntilIdle();
  ASSERT_TRUE(host.settingsPlatform.closePanel(chosen));
  host.loop.runUntilIdle();
  EXPECT_EQ(*channels::decodeMethodResponse(**dialog).value,
            channels::MethodResponse(Value(chosen)));
  EXPECT_EQ(send("com.pilvo/interface", "writeTextFile", write), channels::MethodResponse(Value()));
  EXPECT_EQ(testing::readFile(chosen), "{}");
}

// The index answers over the tracking channel; when the system's database
// yields nothing, the host log gets the one fallback line.
TEST(HostStartUpTest, IndexAllAppsAnswersPairsAndLogsTheFallbackThroughTheHostLog) {
  testing::TempDir dir;
  g_mkdir_with_parents(dir.file("data/applications").c_str(), 0700);
  testing::writeFile(dir.file("data/applications/org.example.Editor.desktop"),
                     "[Desktop Entry]\nType=Application\nName=Editor\nExec=true\n");
  testing::FakeEventLoop loop;
  testing::FakeTrackingPlatform platform;
  testing::FakeAccessibility accessibility;
  testing::FakeAppIndexPlatform index;
  index.dataDirs = {dir.file("data")};
  index.iconDir = dir.file("data/app_icons");
  std::vector<std::pair<HostLogLevel, std::string>> lines;
  channels::FlutterEngine engine{loop, [](const std::string&) {}};
  registerChannels(
      engine, {&loop, &platform, &accessibility,
               [&](HostLogLevel level, std::string_view text) { lines.emplace_back(level, text); },
               &index, [] { return std::make_unique<testing::InlineRunner>(); }});

  testing::FakeFlutterUi ui(engine.binaryMessenger());
  auto reply = ui.sendRaw("com.tavik/tracking", channels::encodeMethodCall({"indexAllApps", {}}));
  loop.runUntilIdle();
  ASSERT_TRUE(*reply);
  using channels::Value;
  using channels::ValueList;
  EXPECT_EQ(*channels::decodeMethodResponse(**reply).value,
            channels::MethodResponse(
                Value(ValueList{Value(ValueList{Value("org.example.Editor"), Value("Editor")})})));
  const std::vector<std::pair<HostLogLevel, std::string>> expected = {
      {HostLogLevel::kInfo, "Tavik: mdfind failed, falling back to directory scan"}};
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace pilvo::host
