#include "host/host_plugins.h"

#include <gtest/gtest.h>

#include "channels/standard_codec.h"
#include "host/generated_plugin_registrant.h"
#include "testing/fake_accessibility.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_tracking_platform.h"

namespace pilvo::host {
namespace {

using channels::MethodResponse;
using channels::Value;

class HostStartUpTest : public ::testing::Test {
 protected:
  HostServices services() { return HostServices{&loop_, &platform_, &accessibility_, nullptr}; }
  testing::FakeEventLoop loop_;
  testing::FakeTrackingPlatform platform_;
  testing::FakeAccessibility accessibility_;
  channels::FlutterEngine engine_{loop_, [](const std::string&) {}};
};

TEST_F(HostStartUpTest, RegistersStandardPluginsThenOwnPluginsThenSidebar) {
  auto sidebar = registerChannels(engine_, services());
  ASSERT_TRUE(sidebar);
  EXPECT_EQ(sidebar->name(), "com.tavik/sidebar");

  std::vector<std::string> expected;
  for (std::string_view key : kGeneratedPluginKeys)
    expected.push_back("registrar:" + std::string(key));
  expected.insert(expected.end(), {
                                      "registrar:TavikPlugins",
                                      "channel:com.tavik/tracking",
                                      "delegate:TavikPlugins:com.tavik/tracking",
                                      "channel:com.tavik/sidebar",
                                  });
  EXPECT_EQ(engine_.registrationLog(), expected);
  EXPECT_EQ(expected[7], "registrar:Sqlite3FlutterLibsPlugin");
}

TEST_F(HostStartUpTest, TrackingChannelAnswersThroughTheMessenger) {
  auto sidebar = registerChannels(engine_, services());
  platform_.setSupportPath("/data");
  std::optional<MethodResponse> reply;
  engine_.binaryMessenger().deliverFromUi(
      "com.tavik/tracking", channels::encodeMethodCall({"getAppSupportPath", Value()}),
      [&](channels::Bytes bytes) { reply = channels::decodeMethodResponse(bytes).value; });
  loop_.runUntilIdle();
  EXPECT_EQ(reply, MethodResponse(Value("/data")));
}

}  // namespace
}  // namespace pilvo::host
