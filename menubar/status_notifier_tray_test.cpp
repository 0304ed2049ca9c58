// The real tray on a real session bus and X display (scripts/with-x-session.sh):
// a small StatusNotifierWatcher written here plays the desktop's tray, trayer
// plays an XEmbed tray. Every wait is bounded.
#include "menubar/status_notifier_tray.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>

#include <set>

#include "common/glib_event_loop.h"
#include "menubar/menu_bar_controller.h"
#include "menubar/tray_icon.h"
#include "testing/tray_watcher.h"
#include "testing/wait.h"

namespace pilvo::menubar {
namespace {

using channels::Value;

// Runs the main context while waiting, so the item and the watcher can talk.
using testing::pumpUntil;

using TestWatcher = testing::TrayWatcher;

struct RecordingSink final : channels::FlutterEventSink {
  void success(Value event) override { events.push_back(std::move(event)); }
  void error(channels::FlutterError) override { ADD_FAILURE() << "no errors on this channel"; }
  void endOfStream() override { ADD_FAILURE() << "no end of stream on this channel"; }
  bool valid() const override { return true; }
  std::vector<Value> events;
};

void runCommand(const std::string& command) {
  ASSERT_EQ(std::system(("timeout 10 " + command).c_str()), 0) << command;
}

class StatusNotifierTrayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gtk_init(nullptr, nullptr); }

  void start() {
    tray_ =
        std::make_unique<StatusNotifierTray>([this](std::string_view s) { said_.emplace_back(s); });
    controller_ = std::make_shared<MenuBarController>(
        tray_.get(), loop_, AppCommands{[this] { ++opened_; }, [this] { ++quits_; }});
    controller_->onListen(Value(), sink_);
  }
  void TearDown() override {
    controller_.reset();
    tray_.reset();
    pumpUntil([] { return true; });
  }

  GlibEventLoop loop_;
  std::vector<std::string> said_;
  std::unique_ptr<StatusNotifierTray> tray_;
  std::shared_ptr<MenuBarController> controller_;
  std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
  int opened_ = 0;
  int quits_ = 0;
};

TEST_F(StatusNotifierTrayTest, ItemRegistersAndItsPixmapFollowsScoreAndTrackingOnly) {
  TestWatcher watcher;
  start();
  ASSERT_TRUE(pumpUntil([&] { return watcher.registered.count(tray_->itemBusName()) == 1; }));
  const std::string item = tray_->itemBusName();
  EXPECT_EQ(watcher.sample(item), std::pair(trayIconColour(std::nullopt), 255));

  for (const auto& [score, tint] : std::vector<std::pair<int, TrayTint>>{{70, TrayTint::kGreen},
                                                                         {69, TrayTint::kOrange},
                                                                         {40, TrayTint::kOrange},
                                                                         {39, TrayTint::kRed},
                                                                         {0, TrayTint::kRed}}) {
    controller_->updateStatusIcon(score);
    pumpUntil([] { return true; });
    EXPECT_EQ(watcher.sample(item), std::pair(trayIconColour(tint), 255)) << score;
  }
  // Announced on each change of colour only (plain to green, orange, red).
  EXPECT_TRUE(pumpUntil([&] { return watcher.newIcons == 3; })) << watcher.newIcons;
  controller_->handleMethodCall(
      {"updatePopover", channels::makeMap({{"score", 90}, {"isTracking", false}})},
      std::make_unique<channels::FlutterResult>([](channels::MethodResponse) {}, "",
                                                [](const std::string&) {}));
  pumpUntil([] { return true; });
  EXPECT_EQ(watcher.sample(item), std::pair(trayIconColour(TrayTint::kRed), 255));
  controller_->updateTrackingIndicator(false);
  pumpUntil([] { return true; });
  EXPECT_EQ(watcher.sample(item).second, 89) << "dimmed";
  EXPECT_TRUE(said_.empty());
}

TEST_F(StatusNotifierTrayTest, ActivateOpensTheMenuAndItsRowsSendCommands) {
  TestWatcher watcher;
  start();
  ASSERT_TRUE(pumpUntil([&] { return watcher.registered.count(tray_->itemBusName()) == 1; }));
  controller_->handleMethodCall(
      {"updatePopover", channels::makeMap({{"score", 72},
                                           {"focusState", "deep"},
                                           {"deepWork", 45},
                                           {"switches", 12},
                                           {"isTracking", true}})},
      std::make_unique<channels::FlutterResult>([](channels::MethodResponse) {}, "",
                                                [](const std::string&) {}));
  watcher.call(tray_->itemBusName(), "org.kde.StatusNotifierItem", "Activate",
               g_variant_new("(ii)", 10, 10));
  ASSERT_TRUE(pumpUntil([&] { return tray_->openMenuMapped(); }));
  EXPECT_EQ(
      tray_->openMenuRows(),
      (std::vector<std::string>{"Pilvo", "-", "Focus: 72 \u2014 Deep Focus",
                                "45 min deep work  \u00B7  12 switches", "-", "Start Deep Session",
                                "-", "Pause Tracking", "-", "Open Pilvo", "Quit Pilvo"}));
  // The keyboard skips the disabled lines: the first choice is the session.
  runCommand("xdotool key Down Return");
  ASSERT_TRUE(pumpUntil([&] { return !sink_->events.empty(); }));
  EXPECT_EQ(sink_->events, std::vector<Value>{"startSession"});
  EXPECT_FALSE(tray_->openMenuMapped());

  // A right click opens it too; its key "q" quits.
  watcher.call(tray_->itemBusName(), "org.kde.StatusNotifierItem", "ContextMenu",
               g_variant_new("(ii)", 10, 10));
  ASSERT_TRUE(pumpUntil([&] { return tray_->openMenuMapped(); }));
  runCommand("xdotool key q");
  ASSERT_TRUE(pumpUntil([&] { return quits_ == 1; }));
  EXPECT_EQ(sink_->events.size(), 1u);
}

TEST_F(StatusNotifierTrayTest, HideUnregistersAndShowRegistersAPlainItemAgain) {
  TestWatcher watcher;
  start();
  ASSERT_TRUE(pumpUntil([&] { return watcher.registered.count(tray_->itemBusName()) == 1; }));
  const std::string first = tray_->itemBusName();
  controller_->updateStatusIcon(80);
  controller_->updateTrackingIndicator(false);
  controller_->setVisible(false);
  ASSERT_TRUE(pumpUntil([&] { return watcher.registered.empty(); }));
  controller_->setVisible(true);
  ASSERT_TRUE(pumpUntil([&] { return watcher.registered.size() == 1; }));
  EXPECT_NE(tray_->itemBusName(), first);
  EXPECT_EQ(watcher.sample(tray_->itemBusName()), std::pair(trayIconColour(std::nullopt), 255));
}

TEST_F(StatusNotifierTrayTest, AWatcherThatStartsLaterOrAgainGetsTheItem) {
  start();
  ASSERT_TRUE(pumpUntil([&] { return !said_.empty(); })) << "no tray yet: said so";
  for (int round = 0; round < 2; ++round) {
    TestWatcher watcher;
    EXPECT_TRUE(pumpUntil([&] { return watcher.registered.count(tray_->itemBusName()) == 1; }))
        << "round " << round;
  }
  EXPECT_EQ(said_.size(), 1u) << "said once";
}

TEST_F(StatusNotifierTrayTest, WithoutWatcherTheIconDocksInAnXEmbedTrayThatStartsLater) {
  start();
  ASSERT_TRUE(pumpUntil([&] { return !said_.empty(); }));
  EXPECT_EQ(said_, std::vector<std::string>{
                       "Tavik: no system tray on this desktop yet; the Pilvo item appears when "
                       "one starts"});

  GPid trayer = 0;
  const char* argv[] = {"trayer",  "--edge",   "top", "--align",       "right", "--widthtype",
                        "request", "--height", "32",  "--SetDockType", "true",  nullptr};
  ASSERT_TRUE(g_spawn_async(nullptr, const_cast<char**>(argv), nullptr,
                            GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                        G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                            nullptr, nullptr, &trayer, nullptr));
  const bool embedded = pumpUntil([&] { return tray_->legacyIconEmbedded(); });
  std::optional<std::array<int, 4>> at;
  if (embedded) {
    pumpUntil([&] { return (at = tray_->legacyIconGeometry()) && (*at)[2] > 0; });
  }
  if (embedded && at) {
    const auto [x, y, w, h] = *at;
    runCommand("xdotool mousemove " + std::to_string(x + w / 2) + " " + std::to_string(y + h / 2) +
               " click 1");
    EXPECT_TRUE(pumpUntil([&] { return tray_->openMenuMapped(); })) << "a click opens the menu";
    EXPECT_EQ(tray_->openMenuRows().front(), "Pilvo");
    runCommand("xdotool key Escape");
  }
  kill(trayer, SIGTERM);
  waitpid(trayer, nullptr, 0);
  g_spawn_close_pid(trayer);
  EXPECT_TRUE(embedded) << "the icon docks in trayer";
  EXPECT_TRUE(at.has_value());
  EXPECT_EQ(said_.size(), 1u) << "said once";
}

}  // namespace
}  // namespace pilvo::menubar
