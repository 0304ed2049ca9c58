// The real `pilvo` in an X session (Xvfb + openbox + D-Bus), driven the way a
// user and an interface would: pilvoctl for the channels, wmctrl/xprop for
// what the window manager sees. Every wait polls with a deadline.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "testing/pilvo_process.h"
#include "testing/shell.h"
#include "testing/temp_dir.h"
#include "testing/wait.h"
#include "testing/test_environment.h"

namespace {

using Json = nlohmann::json;
using pilvo::testing::waitUntil;

const std::string kBuildDir = pilvo::testing::buildDir();

// Runs a shell command; its standard output, or nullopt when it failed.
std::optional<std::string> shell(const std::string& command) {
  return pilvo::testing::shellOutputIfOk(command);
}

// WM_CLASS ("instance.class") of every client window, as wmctrl lists them.
std::vector<std::string> clientWindows() {
  std::istringstream lines(shell("wmctrl -lx | awk '{print $3}'").value_or(""));
  std::vector<std::string> classes;
  for (std::string wmClass; lines >> wmClass;) classes.push_back(wmClass);
  return classes;
}

std::optional<unsigned long> windowOfClass(const std::string& className) {
  const std::string id =
      shell("wmctrl -lx | awk '$3 ~ /[.]" + className + "$/ {print $1; exit}'").value_or("");
  return id.empty() ? std::nullopt : std::optional(std::stoul(id, nullptr, 16));
}

unsigned long activeWindow() {
  const std::string out = shell("xprop -root _NET_ACTIVE_WINDOW").value_or("");
  const size_t hash = out.find("# ");
  return hash == std::string::npos ? 0 : std::stoul(out.substr(hash + 2), nullptr, 16);
}

// Asks the window manager, as a user would, to bring `window` forward.
bool focus(unsigned long window) {
  return shell("wmctrl -ia " + std::to_string(window)) &&
         waitUntil([&] { return activeWindow() == window; }, 5);
}

// The identifier the shared resolver gives a window of this session.
std::string appIdOf(const std::string& wmClass) {
  if (wmClass.ends_with(".com.pilvo.Pilvo")) return "com.pilvo.Pilvo";
  const std::string className = wmClass.substr(wmClass.find('.') + 1);
  return className.starts_with("Pilvo") ? "org.example." + className.substr(5) : className;
}

// One `pilvo`, one probe xterm (a running installed application) and the
// installed desktop entries are shared by the whole suite.
class PilvoIntegrationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new pilvo::testing::TempDir();
    const std::string root = dir_->path();
    pilvo::testing::usePrivateHome(root);
    shell("cd '" + root + "' && mkdir -m 700 data/applications pictures &&" +
          " mkdir -p data/icons/hicolor/48x48/apps");
    // The socket clients here hold the streams; no interface page competes for them.
    setenv("PILVO_NO_INTERFACE", "1", 1);
    for (std::string name : {"Probe", "Launchable"}) {
      pilvo::testing::writeFile(root + "/data/applications/org.example." + name + ".desktop",
                                "[Desktop Entry]\nType=Application\nName=" + name +
                                    "\nExec=xterm -class Pilvo" + name +
                                    " -e sleep 120\nStartupWMClass=Pilvo" + name + "\n");
    }
    // Menu entries with icons: a theme name (PNG in the user's hicolor
    // folder), an absolute SVG path; one entry off the menu.
    auto menuEntry = [&](const std::string& id, const std::string& keys) {
      pilvo::testing::writeFile(root + "/data/applications/" + id + ".desktop",
                                "[Desktop Entry]\nType=Application\nExec=true\n" + keys + "\n");
    };
    menuEntry("org.example.Themed", "Name=Themed\nIcon=org.example.Themed");
    menuEntry("org.example.Absolute", "Name=Absolute\nIcon=" + root + "/pictures/absolute.svg");
    menuEntry("org.example.OffMenu", "Name=Off menu\nNoDisplay=true\nIcon=org.example.Themed");
    GdkPixbuf* png = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 48, 48);
    gdk_pixbuf_fill(png, 0x2288eeff);
    gdk_pixbuf_save(png, (root + "/data/icons/hicolor/48x48/apps/org.example.Themed.png").c_str(),
                    "png", nullptr, nullptr);
    g_object_unref(png);
    pilvo::testing::writeFile(root + "/pictures/absolute.svg",
                              R"(<svg xmlns="http://www.w3.org/2000/svg" width="20" height="40">)"
                              R"(<rect width="20" height="40" fill="#0a0"/></svg>)");
    shell("cp '" + pilvo::testing::sourceDir() + "/resources/com.pilvo.Pilvo.desktop' '" + root +
          "/data/applications/'");
    pilvo_ = new pilvo::testing::PilvoProcess();
    shell("xterm -class PilvoProbe -e sleep 120 >/dev/null &");
  }

  static void TearDownTestSuite() {
    shell("wmctrl -x -c PilvoProbe; wmctrl -x -c PilvoLaunchable");
    // The host ends cleanly on SIGTERM and takes its socket with it.
    EXPECT_EQ(pilvo_->stop(), std::optional<int>(0));
    EXPECT_NE(access(pilvo_->socket().c_str(), F_OK), 0) << "socket left behind";
    delete pilvo_;
    delete dir_;
  }

  void SetUp() override {
    ASSERT_TRUE(pilvo_->running());
    // The window shows once the socket is open.
    for (const char* wmClass : {"com.pilvo.Pilvo", "PilvoProbe"}) {
      ASSERT_TRUE(waitUntil([&] { return windowOfClass(wmClass).has_value(); }, 15))
          << "no window of class " << wmClass;
    }
  }

  static std::optional<Json> call(const std::string& method, const std::string& args = "null") {
    const auto out = pilvo_->ctl("--timeout 10 call com.tavik/tracking " + method + " '" + args + "'");
    return out.ok() ? std::optional(Json::parse(out.output, nullptr, false)) : std::nullopt;
  }

  static inline pilvo::testing::TempDir* dir_ = nullptr;
  static inline pilvo::testing::PilvoProcess* pilvo_ = nullptr;
};

TEST_F(PilvoIntegrationTest, TrackingAnswersWhatTheWindowManagerShows) {
  Json all = Json::array(), others = Json::array();
  for (const std::string& wmClass : clientWindows()) {
    const std::string appId = appIdOf(wmClass);
    all.push_back(appId);
    if (appId != "com.pilvo.Pilvo") others.push_back(appId);
  }
  EXPECT_EQ(call("getAllRunningApps"), all);
  EXPECT_EQ(call("getRunningAppBundleIds"), others);
  EXPECT_EQ(call("getAppSupportPath"), Json(dir_->path() + "/data"));
  EXPECT_EQ(call("hasPermissions"), Json(true));
  EXPECT_EQ(call("requestPermissions"), Json(nullptr));

  // The name of whatever xprop reports as active.
  ASSERT_TRUE(focus(*windowOfClass("PilvoProbe")));
  EXPECT_EQ(call("getActiveAppName"), Json("Probe"));
  ASSERT_TRUE(focus(*windowOfClass("com.pilvo.Pilvo")));
  EXPECT_EQ(call("getActiveAppName"), Json("Pilvo"));
}

TEST_F(PilvoIntegrationTest, IndexAllAppsAnswersTheMenuAndLeavesOneIconPerIdentifier) {
  // Two calls at once: each is answered in full, and alike.
  auto second = std::async(std::launch::async, [] { return call("indexAllApps"); });
  const std::optional<Json> answer = call("indexAllApps");
  ASSERT_TRUE(answer && answer->is_array()) << (answer ? answer->dump() : "no answer");
  EXPECT_EQ(second.get(), answer);

  std::vector<std::string> ids;
  for (const Json& app : *answer) {
    ASSERT_TRUE(app.is_array() && app.size() == 2 && app[0].is_string() && app[1].is_string())
        << app.dump();
    ids.push_back(app[0]);
  }
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size()) << "repeated IDs";
  for (const char* id : {"org.example.Probe", "org.example.Launchable", "org.example.Themed",
                         "org.example.Absolute"}) {
    const std::string name = std::string(id).substr(12);
    EXPECT_NE(std::find(answer->begin(), answer->end(), Json::array({id, name})), answer->end())
        << id;
  }
  for (const char* id : {"com.pilvo.Pilvo", "org.example.OffMenu"}) {
    EXPECT_EQ(std::find(ids.begin(), ids.end(), id), ids.end()) << id;
  }

  // Icons beside pilvo/ in the data directory, by ID, 32 x 32 RGBA.
  const std::string icons = dir_->path() + "/data/app_icons/";
  for (const char* id : {"org.example.Themed", "org.example.Absolute"}) {
    GdkPixbuf* icon = gdk_pixbuf_new_from_file((icons + id + ".png").c_str(), nullptr);
    ASSERT_NE(icon, nullptr) << id;
    EXPECT_EQ(std::tuple(gdk_pixbuf_get_width(icon), gdk_pixbuf_get_height(icon),
                         gdk_pixbuf_get_has_alpha(icon)),
              std::tuple(32, 32, TRUE))
        << id;
    g_object_unref(icon);
  }
  EXPECT_NE(access((icons + "org.example.Probe.png").c_str(), F_OK), 0) << "Probe has no Icon";
  EXPECT_NE(access((icons + "org.example.OffMenu.png").c_str(), F_OK), 0);

  // A later call leaves the files as they are.
  struct stat before {};
  struct stat after {};
  ASSERT_EQ(stat((icons + "org.example.Themed.png").c_str(), &before), 0);
  EXPECT_EQ(call("indexAllApps"), answer);
  ASSERT_EQ(stat((icons + "org.example.Themed.png").c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(PilvoIntegrationTest, ActivateAppBringsRunningAppForwardOrLaunchesIt) {
  ASSERT_TRUE(focus(*windowOfClass("com.pilvo.Pilvo")));
  EXPECT_EQ(call("activateApp", R"({"bundleId": "org.example.Probe"})"), Json(true));
  EXPECT_TRUE(waitUntil([] { return activeWindow() == windowOfClass("PilvoProbe"); }, 5));

  EXPECT_EQ(call("activateApp", R"({"bundleId": "org.example.NotInstalled"})"), Json(true));
  EXPECT_EQ(call("activateApp", R"({"bundleId": "org.example.Launchable"})"), Json(true));
  ASSERT_TRUE(waitUntil([] { return windowOfClass("PilvoLaunchable").has_value(); }, 10))
      << "the desktop entry was not started";
  EXPECT_TRUE(waitUntil([] { return activeWindow() == windowOfClass("PilvoLaunchable"); }, 5));
  EXPECT_EQ(clientWindows().size(), 3u) << "the unknown identifier opened something";
}

TEST_F(PilvoIntegrationTest, ClosingKeepsTheProcessAndASecondStartShowsTheWindow) {
  ASSERT_TRUE(shell("wmctrl -ic " + std::to_string(*windowOfClass("com.pilvo.Pilvo"))));
  ASSERT_TRUE(waitUntil([] { return !windowOfClass("com.pilvo.Pilvo"); }, 5))
      << "the window did not close";
  EXPECT_TRUE(pilvo_->running()) << "closing the window ended the process";
  // Still running, so still listed (last, once), but never among the others.
  Json all = Json::array(), others = Json::array();
  for (const std::string& wmClass : clientWindows()) {
    all.push_back(appIdOf(wmClass));
    others.push_back(appIdOf(wmClass));
  }
  all.push_back("com.pilvo.Pilvo");
  EXPECT_EQ(call("getAllRunningApps"), all);
  EXPECT_EQ(call("getRunningAppBundleIds"), others);
  EXPECT_EQ(call("getAppSupportPath"), Json(dir_->path() + "/data"));
  EXPECT_NE(pilvo::testing::readFile(dir_->path() + "/config/pilvo/defaults.ini")
                .find("MainWindowFrame="),
            std::string::npos);

  EXPECT_TRUE(shell("timeout 15 '" + kBuildDir + "/host/pilvo'"))
      << "the second start did not hand over and end";
  EXPECT_TRUE(waitUntil([] { return windowOfClass("com.pilvo.Pilvo").has_value(); }, 5))
      << "the first instance's window did not come back";
}

}  // namespace
