#include "host/host_plugins.h"

#include <gtest/gtest.h>

#include "host/host_test_support.h"

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
                   "channel:com.tavik/sidebar"});
  EXPECT_EQ(host.engine.registrationLog(), expected);
}

}  // namespace
}  // namespace pilvo::host
