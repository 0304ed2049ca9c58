// The real `pilvo` in an X session with its menu bar item on the session bus:
// pilvoctl pushes values and listens for the menu's commands, gdbus clicks the
// item as a tray host would, xdotool works the menu from the keyboard.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "testing/pilvo_process.h"
#include "testing/shell.h"
#include "testing/tray_menu.h"
#include "testing/temp_dir.h"
#include "testing/wait.h"
#include "testing/test_environment.h"

namespace {

using pilvo::testing::waitUntil;

const std::string kBuildDir = pilvo::testing::buildDir();

// Runs a shell command (bounded); its standard output, or nullopt when it failed.
std::optional<std::string> shell(const std::string& command) {
  return pilvo::testing::shellOutputIfOk("timeout 15 sh -c '" + command + "'");
}

class MenuBarEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string root = dir_.path();
    ASSERT_TRUE(pilvo::testing::usePrivateHome(root));
    // The socket clients here hold the streams; no interface page competes for them.
    setenv("PILVO_NO_INTERFACE", "1", 1);
    pilvo_.emplace();
    ASSERT_TRUE(waitUntil([&] { return access(pilvo_->socket().c_str(), F_OK) == 0; }, 15));
    item_ = "org.kde.StatusNotifierItem-" + std::to_string(pilvo_->pid()) + "-1";
  }

  std::string pilvoctl() const {
    return kBuildDir + "/channels/pilvoctl --socket " + pilvo_->socket();
  }
  // A listener in the background that writes what it hears to `file`.
  void listen(const std::string& file) {
    ASSERT_TRUE(shell(pilvoctl() + " --timeout 20 listen com.tavik/menubar_events > " +
                      dir_.path() + "/" + file + " & sleep 0.3"));
  }
  std::string heard(const std::string& file) {
    return pilvo::testing::readFile(dir_.path() + "/" + file);
  }
  void push(const std::string& method, const std::string& json) {
    ASSERT_EQ(shell(pilvoctl() + " call com.tavik/menubar " + method + " \"" + json + "\""),
              std::optional<std::string>("null\n"))
        << method;
  }
  // A left click on the item as the tray host reports it; then the keys.
  void clickAndType(const std::string& keys) {
    ASSERT_TRUE(pilvo::testing::chooseFromTrayMenu(item_, keys));
  }

  pilvo::testing::TempDir dir_;
  std::string item_;
  std::optional<pilvo::testing::PilvoProcess> pilvo_;
};

TEST_F(MenuBarEndToEndTest, MenuCommandsReachTheLatestListenerAndQuitEndsTheHostCleanly) {
  push("updatePopover", "{\\\"score\\\": 72, \\\"isTracking\\\": true}");
  listen("first");
  clickAndType("Down Return");  // the first enabled row: Start Deep Session
  ASSERT_TRUE(waitUntil([&] { return !heard("first").empty(); }, 10));
  listen("second");
  clickAndType("Down Down Return");  // Pause Tracking
  ASSERT_TRUE(waitUntil([&] { return !heard("second").empty(); }, 10));
  EXPECT_EQ(heard("first"),
            "{\"channel\":\"com.tavik/menubar_events\",\"event\":\"startSession\"}\n");
  EXPECT_EQ(heard("second"),
            "{\"channel\":\"com.tavik/menubar_events\",\"event\":\"toggleTracking\"}\n");

  // Open Pilvo brings the closed main window back.
  ASSERT_TRUE(shell("wmctrl -x -c com.pilvo.Pilvo"));
  ASSERT_TRUE(waitUntil([] { return !shell("wmctrl -lx | grep -q com.pilvo.Pilvo"); }, 5));
  clickAndType("Down Down Down Return");
  EXPECT_TRUE(
      waitUntil([] { return shell("wmctrl -lx | grep -q com.pilvo.Pilvo").has_value(); }, 5))
      << "Open Pilvo did not bring the window forward";

  // Quit Pilvo by its key: the normal way out, socket removed, status 0.
  clickAndType("q");
  EXPECT_EQ(pilvo_->waitExit(10), std::optional<int>(0));
  EXPECT_NE(access(pilvo_->socket().c_str(), F_OK), 0) << "socket left behind";
}

}  // namespace
