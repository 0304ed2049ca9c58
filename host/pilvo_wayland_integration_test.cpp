// The real `pilvo` in a headless sway session (scripts/with-sway-session.sh),
// its window a native Wayland window: the tracking channel against swaymsg's
// view of the tree, through pilvoctl. Skips where sway is not installed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "testing/pilvo_process.h"
#include "testing/sway_session.h"
#include "testing/temp_dir.h"
#include "testing/wait.h"
#include "testing/test_environment.h"

namespace {

using Json = nlohmann::json;
using pilvo::testing::shellOutput;
using pilvo::testing::shellStatus;
using pilvo::testing::waitUntil;


// app_ids of sway's windows, in tree order (sway lists them by position,
// which here is the order they were opened in).
Json swayAppIds() {
  return Json::parse(shellOutput("swaymsg -t get_tree | jq -c '[.. | objects | "
                                 "select(.type? == \"con\" and .app_id? != null) | .app_id]'"),
                     nullptr, false);
}

bool focusApp(const std::string& appId) {
  return shellStatus("swaymsg '[app_id=\"^" + appId + "$\"] focus'") == 0 &&
         waitUntil([&] { return pilvo::testing::swayFocusedAppId() == appId; }, 5);
}

bool hasWindow(const std::string& appId) {
  const Json ids = swayAppIds();
  return ids.is_array() && std::find(ids.begin(), ids.end(), Json(appId)) != ids.end();
}

class PilvoWaylandIntegrationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!pilvo::testing::swaySessionMissing().empty()) return;
    dir_ = new pilvo::testing::TempDir();
    const std::string root = dir_->path();
    pilvo::testing::usePrivateHome(root);
    // The screen must hold still for the dimming checks: the main window shows
    // its plain view, not the interface page, which paints when it is ready.
    setenv("PILVO_NO_INTERFACE", "1", 1);
    shellOutput("mkdir -m 700 '" + root + "/data/applications'");
    for (std::string name : {"Probe", "Launchable"}) {
      pilvo::testing::writeFile(root + "/data/applications/org.example." + name + ".desktop",
                                "[Desktop Entry]\nType=Application\nName=" + name +
                                    "\nExec=foot -a org.example." + name + " sleep 120\n");
    }
    shellOutput("cp '" + pilvo::testing::sourceDir() + "/resources/com.pilvo.Pilvo.desktop' '" +
                root + "/data/applications/'");
    pilvo_ = new pilvo::testing::PilvoProcess();
    probe_ = new pilvo::testing::FootWindow(root, "org.example.Probe", "probe");
  }

  static void TearDownTestSuite() {
    delete probe_;
    shellOutput("swaymsg '[app_id=\"^org.example.Launchable$\"] kill'");
    if (pilvo_) {
      EXPECT_EQ(pilvo_->stop(), std::optional<int>(0));
    }
    delete pilvo_;
    delete dir_;
  }

  void SetUp() override {
    if (const std::string missing = pilvo::testing::swaySessionMissing(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    ASSERT_TRUE(pilvo_ && pilvo_->running());
    for (const char* appId : {"com.pilvo.Pilvo", "org.example.Probe"}) {
      ASSERT_TRUE(waitUntil([&] { return hasWindow(appId); }, 15)) << "no window of " << appId;
    }
  }

  static std::optional<Json> call(const std::string& method, const std::string& args = "null") {
    const std::string out =
        pilvo_->ctl("--timeout 10 call com.tavik/tracking " + method + " '" + args + "'").output;
    if (out.empty()) return std::nullopt;
    return Json::parse(out, nullptr, false);
  }

  static inline pilvo::testing::TempDir* dir_ = nullptr;
  static inline pilvo::testing::FootWindow* probe_ = nullptr;
  static inline pilvo::testing::PilvoProcess* pilvo_ = nullptr;
};

TEST_F(PilvoWaylandIntegrationTest, TrackingAnswersWhatTheCompositorShows) {
  const Json all = swayAppIds();
  Json others = Json::array();
  for (const Json& id : all) {
    if (id != "com.pilvo.Pilvo") others.push_back(id);
  }
  EXPECT_EQ(call("getAllRunningApps"), all);
  EXPECT_EQ(call("getRunningAppBundleIds"), others);
  EXPECT_EQ(call("hasPermissions"), Json(true));

  ASSERT_TRUE(focusApp("org.example.Probe"));
  EXPECT_EQ(call("getActiveAppName"), Json("Probe"));
  ASSERT_TRUE(focusApp("com.pilvo.Pilvo"));
  EXPECT_EQ(call("getActiveAppName"), Json("Pilvo"));
}

TEST_F(PilvoWaylandIntegrationTest, ActivateAppBringsRunningAppForwardOrLaunchesIt) {
  ASSERT_TRUE(focusApp("com.pilvo.Pilvo"));
  EXPECT_EQ(call("activateApp", R"({"bundleId": "org.example.Probe"})"), Json(true));
  EXPECT_TRUE(
      waitUntil([] { return pilvo::testing::swayFocusedAppId() == "org.example.Probe"; }, 5));

  EXPECT_EQ(call("activateApp", R"({"bundleId": "org.example.NotInstalled"})"), Json(true));
  EXPECT_EQ(call("activateApp", R"({"bundleId": "org.example.Launchable"})"), Json(true));
  ASSERT_TRUE(waitUntil([] { return hasWindow("org.example.Launchable"); }, 10))
      << "the desktop entry was not started";
  EXPECT_TRUE(
      waitUntil([] { return pilvo::testing::swayFocusedAppId() == "org.example.Launchable"; }, 5));
  EXPECT_EQ(swayAppIds().size(), 3u) << "the unknown identifier opened something";
}

TEST_F(PilvoWaylandIntegrationTest, NudgeDimsAroundTheFocusedWindowAndLeavesItFocused) {
  ASSERT_TRUE(focusApp("com.pilvo.Pilvo"));  // its light window gives bright pixels
  ASSERT_TRUE(focusApp("org.example.Probe"));
  // A pixel bright enough that 75 % of it is told apart, away from the panel
  // (which slides in at the right edge).
  pilvo::testing::Shot before;
  int brightX = -1, brightY = -1;
  ASSERT_TRUE(waitUntil(
      [&] {
        before = pilvo::testing::screenshot();
        for (int y = 10; y < before.height && brightX < 0; y += 10) {
          for (int x = 10; x < before.width - 300 && brightX < 0; x += 10) {
            if (before.at(x, y)[0] >= 60) brightX = x, brightY = y;
          }
        }
        return brightX >= 0;
      },
      10))
      << "no pixel bright enough on screen";
  const int bright = before.at(brightX, brightY)[0];

  const auto overlay = [](const std::string& call) {
    return pilvo_->ctl("--timeout 10 call com.tavik/overlay " + call).ok();
  };
  ASSERT_TRUE(overlay("showOverlay '{\"message\":\"Back to it?\"}'"));
  int dimmed = -1;
  EXPECT_TRUE(waitUntil(
      [&] {
        dimmed = pilvo::testing::screenshot().at(brightX, brightY)[0];
        return std::abs(dimmed - bright * 3 / 4) <= 3;
      },
      10))
      << "pixel " << bright << " under the dim reads " << dimmed;
  // The panel: pixels in its column that are not just the dimmed desktop.
  int panelPixels = 0;
  EXPECT_TRUE(waitUntil(
      [&] {
        const pilvo::testing::Shot shown = pilvo::testing::screenshot();
        panelPixels = 0;
        for (int y = 0; y < shown.height; y += 10) {
          for (int x = shown.width - 270; x < shown.width; x += 10) {
            if (std::abs(shown.at(x, y)[0] - before.at(x, y)[0] * 3 / 4) > 8) ++panelPixels;
          }
        }
        return panelPixels > 50;
      },
      10))
      << "no panel at the right edge (" << panelPixels << " pixels)";
  EXPECT_EQ(pilvo::testing::swayFocusedAppId(), "org.example.Probe");

  ASSERT_TRUE(overlay("hideOverlay"));
  EXPECT_TRUE(waitUntil(
      [&] { return pilvo::testing::screenshot().at(brightX, brightY)[0] == bright; }, 10));
  EXPECT_EQ(pilvo::testing::swayFocusedAppId(), "org.example.Probe");
}

}  // namespace
