#include "settings/sparkle_updater_plugin.h"

#include <gtest/gtest.h>

#include "channels/standard_codec.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_flutter_ui.h"
#include "testing/fake_update_platform.h"

namespace pilvo::settings {
namespace {

using channels::makeMap;
using channels::MethodResponse;
using channels::Value;

const char* kFeed = "https://example.org/appcast.xml";

std::string feedWith(const char* version) {
  return std::string(R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">)"
                     "<channel><item><sparkle:version>") +
         version +
         "</sparkle:version><link>https://example.org/notes</link></item></channel></rss>";
}

class SparkleUpdaterPluginTest : public ::testing::Test {
 protected:
  void start(UpdaterSettings settings) {
    service_ = std::make_shared<UpdateService>(
        platform_, loop_, std::move(settings), [this](bool isError, std::string_view line) {
          logged_.push_back((isError ? "error: " : "") + std::string(line));
        });
    plugin_ =
        SparkleUpdaterPlugin::registerWith(engine_.registrarForPlugin("TavikPlugins"), service_);
  }
  MethodResponse call(const std::string& method, Value args = {}) {
    auto reply =
        ui_.sendRaw(kUpdaterChannelName, channels::encodeMethodCall({method, std::move(args)}));
    loop_.runUntilIdle();
    EXPECT_TRUE(reply->has_value()) << method;
    if (!reply->has_value()) return channels::FlutterError{"NO_ANSWER"};
    return *channels::decodeMethodResponse(**reply).value;
  }
  // The host's "updateReady" calls so far, once posted work has run.
  std::vector<Value> updateReadyCalls() {
    loop_.runUntilIdle();
    std::vector<Value> versions;
    for (const auto& c : ui_.callsOn(kUpdaterChannelName)) {
      EXPECT_EQ(c.method, "updateReady");
      versions.push_back(c.arguments);
    }
    return versions;
  }

  testing::FakeEventLoop loop_;
  testing::FakeUpdatePlatform platform_;
  channels::FlutterEngine engine_{loop_, [](const std::string&) {}};
  testing::FakeFlutterUi ui_{engine_.binaryMessenger()};
  std::vector<std::string> logged_;
  std::shared_ptr<UpdateService> service_;
  std::shared_ptr<SparkleUpdaterPlugin> plugin_;
};

TEST_F(SparkleUpdaterPluginTest, ScheduledChecksFindAnUpdateAndTellTheInterfaceOnce) {
  start({kFeed, "0.1.0"});
  EXPECT_EQ(call("getVersionInfo"), MethodResponse(makeMap({{"currentVersion", "0.1.0"}})));
  EXPECT_EQ(call("isUpdateReady"), MethodResponse(Value(false)));
  loop_.advance(59);
  EXPECT_EQ(platform_.pendingFetches(), 0u);
  loop_.advance(1);  // a minute after start
  ASSERT_EQ(platform_.fetchedUrls, std::vector<std::string>{kFeed});
  ASSERT_TRUE(platform_.answerFetch({feedWith("0.1.0"), ""}));  // up to date: shown to nobody
  EXPECT_TRUE(platform_.shown.empty());
  EXPECT_EQ(call("isUpdateReady"), MethodResponse(Value(false)));

  loop_.advance(24 * 3600);
  ASSERT_TRUE(platform_.answerFetch({feedWith("0.2.0"), ""}));
  EXPECT_EQ(platform_.shown, std::vector<std::string>{"available 0.2.0 https://example.org/notes"});
  EXPECT_EQ(call("isUpdateReady"), MethodResponse(Value(true)));
  EXPECT_EQ(updateReadyCalls(), std::vector<Value>{makeMap({{"version", "0.2.0"}})});

  // The next day's check finds the same update: no second reminder, still ready,
  // also after a failed check.
  loop_.advance(24 * 3600);
  ASSERT_TRUE(platform_.answerFetch({feedWith("0.2.0"), ""}));
  loop_.advance(24 * 3600);
  ASSERT_TRUE(platform_.answerFetch({"", "timed out after 30 s"}));
  EXPECT_EQ(platform_.shown.size(), 1u);
  EXPECT_EQ(updateReadyCalls().size(), 1u);
  EXPECT_EQ(call("isUpdateReady"), MethodResponse(Value(true)));
  EXPECT_EQ(logged_.back(), "error: update check failed: timed out after 30 s");
}

TEST_F(SparkleUpdaterPluginTest, TheUsersCheckAnswersAtOnceAndShowsEveryOutcome) {
  start({kFeed, "0.1.0"});
  EXPECT_EQ(call("checkForUpdates"), MethodResponse(Value()));
  EXPECT_EQ(call("checkForUpdates"), MethodResponse(Value()));  // joins the check in flight
  EXPECT_EQ(platform_.pendingFetches(), 1u);
  ASSERT_TRUE(platform_.answerFetch({"<rss><channel>", ""}));
  EXPECT_EQ(call("checkForUpdates"), MethodResponse(Value()));
  ASSERT_TRUE(platform_.answerFetch({feedWith("0.0.9"), ""}));
  EXPECT_EQ(call("checkForUpdates"), MethodResponse(Value()));
  ASSERT_TRUE(platform_.answerFetch({feedWith("1.0"), ""}));
  ASSERT_EQ(platform_.shown.size(), 3u);
  EXPECT_EQ(platform_.shown[0].rfind("failed the feed is not well-formed XML", 0), 0u)
      << platform_.shown[0];
  EXPECT_EQ(platform_.shown[1], "up to date 0.1.0");
  EXPECT_EQ(platform_.shown[2], "available 1.0 https://example.org/notes");
  EXPECT_EQ(updateReadyCalls(), std::vector<Value>{makeMap({{"version", "1.0"}})});

  // A scheduled check while the user's is in flight does not fetch twice.
  EXPECT_EQ(call("checkForUpdates"), MethodResponse(Value()));
  loop_.advance(60);
  EXPECT_EQ(platform_.pendingFetches(), 1u);
}

TEST_F(SparkleUpdaterPluginTest, WithoutAFeedNothingIsEverFoundAndTheOtherMethodsAnswer) {
  start({"", ""});
  loop_.advance(7 * 24 * 3600);
  EXPECT_TRUE(platform_.fetchedUrls.empty());
  EXPECT_EQ(call("checkForUpdates"), MethodResponse(Value()));
  EXPECT_TRUE(platform_.fetchedUrls.empty());
  EXPECT_EQ(platform_.shown.size(), 1u);  // the user learns why nothing was checked
  EXPECT_EQ(call("isUpdateReady"), MethodResponse(Value(false)));
  EXPECT_EQ(call("getVersionInfo"), MethodResponse(makeMap({{"currentVersion", "unknown"}})));
  EXPECT_EQ(call("restartAndUpdate"), MethodResponse(Value()));
  EXPECT_EQ(platform_.quitRequests, 1);
  EXPECT_EQ(call("installUpdate", makeMap({{"now", true}})),
            MethodResponse(channels::FlutterMethodNotImplemented{}));
}

}  // namespace
}  // namespace pilvo::settings
