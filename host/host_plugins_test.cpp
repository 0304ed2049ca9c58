#include "host/host_plugins.h"

#include <gtest/gtest.h>

#include "testing/fake_accessibility.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_tracking_platform.h"

namespace pilvo::host {
namespace {

// The channels' answers are proven end to end by host_window_test and
// pilvo_integration_test; here only the start-up order, which nothing else sees.
TEST(HostStartUpTest, RegistersStandardPluginsThenOwnPluginsThenSidebar) {
  testing::FakeEventLoop loop;
  testing::FakeTrackingPlatform platform;
  testing::FakeAccessibility accessibility;
  channels::FlutterEngine engine{loop, [](const std::string&) {}};
  registerChannels(engine, {&loop, &platform, &accessibility, nullptr});

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
                   "channel:com.tavik/menubar", "eventChannel:com.tavik/menubar_events",
                   "delegate:TavikPlugins:com.tavik/menubar", "channel:com.tavik/sidebar"});
  EXPECT_EQ(engine.registrationLog(), expected);
}

}  // namespace
}  // namespace pilvo::host
