// The real `pilvo` in an X session (Xvfb + openbox + D-Bus), driven the way a
// user and an interface would: pilvoctl for the channels, wmctrl/xprop/xdotool
// for what the window manager sees. Every wait polls with a deadline.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/temp_dir.h"

extern char** environ;

namespace {

using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

std::string buildDir() {
  const char* dir = std::getenv("PILVO_BUILD_DIR");
  return dir ? dir : ".";
}
std::string sourceDir() {
  const char* dir = std::getenv("PILVO_SOURCE_DIR");
  return dir ? dir : "..";
}

// Runs a shell command; its standard output, or nullopt when it failed.
std::optional<std::string> shell(const std::string& command) {
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

bool waitFor(const std::function<bool()>& done, double seconds) {
  const auto deadline = SteadyClock::now() + std::chrono::duration<double>(seconds);
  while (SteadyClock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

pid_t spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Waits (bounded) for `pid` to end; its exit status, or nullopt.
std::optional<int> waitExit(pid_t pid, double seconds) {
  std::optional<int> result;
  waitFor(
      [&] {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) != pid) return false;
        result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      },
      seconds);
  return result;
}

void stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (!waitExit(pid, 5)) {
    kill(pid, SIGKILL);
    waitExit(pid, 5);
  }
}

struct Window {
  unsigned long id = 0;
  std::string wmClass;  // "instance.class" as wmctrl -lx shows it
};

std::vector<Window> clientWindows() {
  std::vector<Window> windows;
  std::istringstream lines(shell("wmctrl -lx").value_or(""));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string id, desktop, wmClass;
    fields >> id >> desktop >> wmClass;
    windows.push_back({std::stoul(id, nullptr, 16), wmClass});
  }
  return windows;
}

std::optional<unsigned long> windowOfClass(const std::string& className) {
  for (const Window& w : clientWindows()) {
    if (w.wmClass.size() > className.size() &&
        w.wmClass.compare(w.wmClass.size() - className.size(), className.size(), className) == 0) {
      return w.id;
    }
  }
  return std::nullopt;
}

unsigned long activeWindow() {
  const std::string out = shell("xprop -root _NET_ACTIVE_WINDOW").value_or("");
  const size_t hash = out.find("# ");
  return hash == std::string::npos ? 0 : std::stoul(out.substr(hash + 2), nullptr, 16);
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

class PilvoIntegrationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new pilvo::testing::TempDir();
    const std::string root = dir_->path();
    for (const char* sub : {"/home", "/config", "/data", "/data/applications", "/run"}) {
      mkdir((root + sub).c_str(), 0700);
    }
    setenv("HOME", (root + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
    // Installed applications: the probe that runs, one that can be launched,
    // and Pilvo's own entry.
    writeText(root + "/data/applications/org.example.Probe.desktop",
              "[Desktop Entry]\nType=Application\nName=Probe Tool\n"
              "Exec=xterm -class PilvoProbe -e sleep 120\nStartupWMClass=PilvoProbe\n");
    writeText(root + "/data/applications/org.example.Launchable.desktop",
              "[Desktop Entry]\nType=Application\nName=Launchable\n"
              "Exec=xterm -class PilvoLaunched -e sleep 120\nStartupWMClass=PilvoLaunched\n");
    shell("cp '" + sourceDir() + "/resources/com.pilvo.Pilvo.desktop' '" + root +
          "/data/applications/'");

    socket_ = new std::string(root + "/run/pilvo/host.sock");
    pilvo_ = spawn({buildDir() + "/host/pilvo"});
    probe_ = spawn({"xterm", "-class", "PilvoProbe", "-e", "sleep", "120"});
  }

  static void TearDownTestSuite() {
    stop(probe_);
    if (launched_ > 0) kill(launched_, SIGTERM);
    // The host ends cleanly on SIGTERM and takes its socket with it.
    if (pilvo_ > 0) {
      kill(pilvo_, SIGTERM);
      const std::optional<int> status = waitExit(pilvo_, 10);
      EXPECT_EQ(status, std::optional<int>(0));
      if (!status) {
        kill(pilvo_, SIGKILL);
        waitExit(pilvo_, 5);
      }
      struct stat st;
      EXPECT_NE(stat(socket_->c_str(), &st), 0) << "socket left behind";
    }
    delete socket_;
    delete dir_;
  }

  void SetUp() override {
    ASSERT_GT(pilvo_, 0);
    struct stat st;
    ASSERT_TRUE(waitFor(
        [] {
          struct stat s;
          return stat(socket_->c_str(), &s) == 0;
        },
        15))
        << "pilvo did not open " << *socket_;
    ASSERT_EQ(stat(socket_->c_str(), &st), 0);
    ASSERT_TRUE(waitFor([] { return windowOfClass("com.pilvo.Pilvo").has_value(); }, 10))
        << "no main window";
    ASSERT_TRUE(waitFor([] { return windowOfClass("PilvoProbe").has_value(); }, 10))
        << "no probe window";
  }

  static std::optional<Json> call(const std::string& method, const std::string& args = "") {
    std::string command = "'" + buildDir() + "/channels/pilvoctl' --socket '" + *socket_ +
                          "' --timeout 10 call com.tavik/tracking " + method;
    if (!args.empty()) command += " '" + args + "'";
    std::optional<std::string> out = shell(command);
    if (!out) return std::nullopt;
    return Json::parse(*out, nullptr, false);
  }

  static pilvo::testing::TempDir* dir_;
  static std::string* socket_;
  static pid_t pilvo_;
  static pid_t probe_;
  static pid_t launched_;
};

pilvo::testing::TempDir* PilvoIntegrationTest::dir_ = nullptr;
std::string* PilvoIntegrationTest::socket_ = nullptr;
pid_t PilvoIntegrationTest::pilvo_ = -1;
pid_t PilvoIntegrationTest::probe_ = -1;
pid_t PilvoIntegrationTest::launched_ = -1;

// The identifiers the shared resolver gives the windows of this session.
std::string idOfClass(const std::string& wmClass) {
  if (wmClass.ends_with(".PilvoProbe")) return "org.example.Probe";
  if (wmClass.ends_with(".PilvoLaunched")) return "org.example.Launchable";
  if (wmClass.ends_with(".com.pilvo.Pilvo")) return "com.pilvo.Pilvo";
  return wmClass.substr(wmClass.find('.') + 1);
}

TEST_F(PilvoIntegrationTest, TrackingAnswersWhatTheWindowManagerShows) {
  Json all = Json::array(), others = Json::array();
  for (const Window& w : clientWindows()) {
    const std::string id = idOfClass(w.wmClass);
    all.push_back(id);
    if (id != "com.pilvo.Pilvo") others.push_back(id);
  }
  EXPECT_EQ(call("getAllRunningApps"), all);
  EXPECT_EQ(call("getRunningAppBundleIds"), others);
  EXPECT_EQ(call("getAppSupportPath"), Json(dir_->path() + "/data"));
  EXPECT_EQ(call("hasPermissions"), Json(true));
  EXPECT_EQ(call("requestPermissions"), Json(nullptr));
  EXPECT_EQ(call("indexAllApps"), Json::array());

  // The name of whatever xprop reports as active.
  ASSERT_EQ(shell("wmctrl -ia " + std::to_string(*windowOfClass("PilvoProbe"))).has_value(), true);
  ASSERT_TRUE(waitFor([] { return activeWindow() == *windowOfClass("PilvoProbe"); }, 5));
  EXPECT_EQ(call("getActiveAppName"), Json("Probe Tool"));
  ASSERT_TRUE(shell("wmctrl -ia " + std::to_string(*windowOfClass("com.pilvo.Pilvo"))));
  ASSERT_TRUE(waitFor([] { return activeWindow() == *windowOfClass("com.pilvo.Pilvo"); }, 5));
  EXPECT_EQ(call("getActiveAppName"), Json("Pilvo"));
}

TEST_F(PilvoIntegrationTest, ActivateAppBringsRunningAppForwardOrLaunchesIt) {
  const unsigned long probe = *windowOfClass("PilvoProbe");
  const unsigned long main = *windowOfClass("com.pilvo.Pilvo");
  ASSERT_TRUE(shell("wmctrl -ia " + std::to_string(main)));
  ASSERT_TRUE(waitFor([&] { return activeWindow() == main; }, 5));

  EXPECT_EQ(call("activateApp", R"({"bundleId": "org.example.Probe"})"), Json(true));
  const auto asked = SteadyClock::now();
  EXPECT_TRUE(waitFor([&] { return activeWindow() == probe; }, 5));
  RecordProperty("activation_ms",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      SteadyClock::now() - asked)
                                      .count()));

  EXPECT_EQ(call("activateApp", R"({"bundleId": 7})"), Json(false));
  EXPECT_EQ(call("activateApp", R"({"bundleId": "org.example.NotInstalled"})"), Json(true));
  EXPECT_EQ(call("activateApp", R"({"bundleId": "org.example.Launchable"})"), Json(true));
  ASSERT_TRUE(waitFor([] { return windowOfClass("PilvoLaunched").has_value(); }, 10))
      << "the desktop entry was not started";
  EXPECT_TRUE(waitFor([] { return activeWindow() == windowOfClass("PilvoLaunched"); }, 5));
  const std::optional<std::string> pid =
      shell("xprop -id " + std::to_string(*windowOfClass("PilvoLaunched")) + " _NET_WM_PID");
  if (pid && pid->find("= ") != std::string::npos) {
    launched_ = std::stoi(pid->substr(pid->find("= ") + 2));
  }
  EXPECT_EQ(clientWindows().size(), 3u) << "the unknown identifier opened something";
}

TEST_F(PilvoIntegrationTest, ClosingKeepsTheProcessAndASecondStartShowsTheWindow) {
  const unsigned long main = *windowOfClass("com.pilvo.Pilvo");
  ASSERT_TRUE(shell("wmctrl -ic " + std::to_string(main)));
  ASSERT_TRUE(waitFor([] { return !windowOfClass("com.pilvo.Pilvo").has_value(); }, 5))
      << "the window did not close";
  EXPECT_EQ(kill(pilvo_, 0), 0) << "closing the window ended the process";
  EXPECT_EQ(call("getAppSupportPath"), Json(dir_->path() + "/data"));
  const std::string config =
      shell("cat '" + dir_->path() + "/config/pilvo/defaults.ini'").value_or("");
  EXPECT_NE(config.find("MainWindowFrame="), std::string::npos) << config;

  const pid_t second = spawn({buildDir() + "/host/pilvo"});
  ASSERT_GT(second, 0);
  EXPECT_EQ(waitExit(second, 15), std::optional<int>(0)) << "the second start did not hand over";
  EXPECT_TRUE(waitFor([] { return windowOfClass("com.pilvo.Pilvo").has_value(); }, 5))
      << "the first instance's window did not come back";
  EXPECT_EQ(kill(pilvo_, 0), 0);
}

}  // namespace
