// The real `pilvo` with the real web view in an X session: a probe page uses
// channels.js the way the interface does and keeps what it saw in its
// preferences (through "savePreferences"), which the test reads. xdotool clicks
// the sidebar button, gdbus and xdotool work the tray menu. Every wait is bounded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "testing/pilvo_process.h"
#include "testing/shell.h"
#include "testing/temp_dir.h"
#include "testing/tray_menu.h"
#include "testing/wait.h"
#include "testing/test_environment.h"

namespace {

using Json = nlohmann::json;
using pilvo::testing::waitUntil;

const std::string kBuildDir = pilvo::testing::buildDir();
const std::string kSourceDir = pilvo::testing::sourceDir();

// Runs a shell command (bounded); its standard output, or nullopt when it failed.
std::optional<std::string> shell(const std::string& command) {
  return pilvo::testing::shellOutputIfOk("timeout 15 sh -c '" + command + "'");
}

class InterfaceIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string root = dir_.path();
    ASSERT_TRUE(pilvo::testing::usePrivateHome(root));
    ASSERT_TRUE(shell("mkdir -m 700 " + root + "/ui"));
    ASSERT_TRUE(shell("cp " + kBuildDir + "/resources/ui/channels.js " + kSourceDir +
                      "/host/testdata/interface_probe.html " + root + "/ui/"));
    setenv("PILVO_INTERFACE_PAGE", (root + "/ui/interface_probe.html").c_str(), 1);
    unsetenv("PILVO_NO_INTERFACE");
    pilvo_.emplace(root + "/pilvo.err");
    item_ = "org.kde.StatusNotifierItem-" + std::to_string(pilvo_->pid()) + "-1";
  }
  void TearDown() override {
    if (pilvo_) {
      EXPECT_EQ(pilvo_->stop(), std::optional<int>(0)) << "pilvo did not end cleanly";
    }
  }

  // What the page has reported so far.
  Json seen() const {
    Json json = Json::parse(pilvo::testing::readFile(dir_.file("config/pilvo/interface.json")),
                            nullptr, false);
    return json.is_object() ? json : Json::object();
  }
  bool pageSaw(const std::string& key, const Json& value) const {
    return waitUntil([&] { return seen().value(key, Json()) == value; }, 20);
  }
  // The main window, found by its title (without asking the window manager).
  static std::string mainWindow() {
    std::string id =
        shell("xdotool search --onlyvisible --name \"^Pilvo\\$\" | head -n1").value_or("");
    while (!id.empty() && id.back() == '\n') id.pop_back();
    return id;
  }
  // How often the host's log says `line` so far.
  int logged(const std::string& line) const {
    const std::string log = pilvo::testing::readFile(dir_.file("pilvo.err"));
    int count = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
    return count;
  }
  // The host's web processes, as pgrep prints them; empty when there is none.
  std::string webProcess() const {
    return shell("pgrep -P " + std::to_string(pilvo_->pid()) + " WebKitWebProc").value_or("");
  }
  void chooseFromTrayMenu(const std::string& keys) {
    ASSERT_TRUE(pilvo::testing::chooseFromTrayMenu(item_, keys));
  }

  pilvo::testing::TempDir dir_;
  std::optional<pilvo::testing::PilvoProcess> pilvo_;
  std::string item_;
};

TEST_F(InterfaceIntegrationTest, ThePageCallsIsCalledAndListensThroughTheBridge) {
  // Calls: a reply, an error with its code, not implemented, rows of a store
  // that does not exist yet.
  ASSERT_TRUE(pageSaw("rows", Json::array())) << seen().dump();
  EXPECT_TRUE(pageSaw("supportPath", dir_.file("data"))) << seen().dump();
  EXPECT_TRUE(pageSaw("notImplemented", "NOT_IMPLEMENTED"));
  EXPECT_TRUE(pageSaw("invalidArgs",
                      Json{{"code", "INVALID_ARGS"}, {"isError", true}, {"hasMessage", true}}));

  // The sidebar button's "toggle" reaches the page's handler.
  ASSERT_TRUE(waitUntil([] { return !mainWindow().empty(); }, 30))
      << shell("wmctrl -lx").value_or("(no wmctrl)");
  ASSERT_TRUE(shell("xdotool mousemove --window " + mainWindow() + " 24 18 click 1"));
  EXPECT_TRUE(pageSaw("sidebar", "toggle 1")) << seen().dump();

  // A command from the tray menu reaches the page's stream, also while the
  // window is closed (hidden).
  chooseFromTrayMenu("Down Return");  // Start Deep Session
  EXPECT_TRUE(pageSaw("menubarEvents", Json{"startSession"})) << seen().dump();
  // Closed as the user closes it, through the window manager.
  ASSERT_TRUE(waitUntil([] { return shell("wmctrl -m").has_value(); }, 30))
      << "no window manager: " << shell("pgrep -a openbox").value_or("openbox is not running");
  ASSERT_TRUE(shell("wmctrl -x -c com.pilvo.Pilvo"));
  ASSERT_TRUE(waitUntil([] { return mainWindow().empty(); }, 10));
  chooseFromTrayMenu("Down Down Return");  // Pause Tracking
  EXPECT_TRUE(pageSaw("menubarEvents", Json{"startSession", "toggleTracking"})) << seen().dump();
}

}  // namespace

namespace {

// A web process that ends (a crash, the kernel's out-of-memory killer) is
// replaced and both pages come back; one that keeps ending is left down.
TEST_F(InterfaceIntegrationTest, AnEndedWebProcessIsReplacedButACrashLoopStops) {
  ASSERT_TRUE(pageSaw("rows", Json::array())) << seen().dump();
  ASSERT_TRUE(waitUntil([&] { return logged("korima_overlay.html loaded") == 1; }, 20));
  for (int crash = 1; crash <= 4; ++crash) {
    ASSERT_FALSE(webProcess().empty()) << "crash " << crash;
    ASSERT_TRUE(shell("rm -f " + dir_.file("config/pilvo/interface.json")));
    // Both pages' (this probe page lies apart from the nudge page, so WebKit
    // may give it a process of its own).
    ASSERT_TRUE(shell("pkill -KILL -P " + std::to_string(pilvo_->pid()) + " WebKitWebProc"));
    if (crash == 4) break;
    EXPECT_TRUE(pageSaw("rows", Json::array())) << "the interface is not back after crash " << crash;
    EXPECT_TRUE(waitUntil([&] { return logged("korima_overlay.html loaded") == crash + 1; }, 20))
        << "the nudge page is not back after crash " << crash;
  }
  EXPECT_TRUE(waitUntil([&] { return logged("interface: the web process keeps ending") == 1; }, 10));
  EXPECT_TRUE(waitUntil([&] { return logged("keeps ending; not loading it again") == 1; }, 10));
  EXPECT_FALSE(waitUntil([&] { return !webProcess().empty(); }, 2)) << "started again";
  EXPECT_EQ(logged("interface: the web process ended; loading the interface again"), 3);
  // The window says so, as a screen reader reads it, instead of showing an empty page.
  const std::string labels = kSourceDir + "/testing/accessible_texts.py " +
                             std::to_string(pilvo_->pid()) + " labels";
  EXPECT_TRUE(waitUntil(
      [&] { return shell(labels).value_or("").find("The interface stopped\n") == 0; }, 10))
      << shell(labels).value_or("(no labels)");
}

}  // namespace
