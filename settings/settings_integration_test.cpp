// The settings channel of the real `pilvo` in an X session: the autostart
// entry it writes and removes, and the save dialog driven with xdotool as a
// user would (type a name and confirm, cancel, a second request while one
// dialog is open); at the end the updater's "restartAndUpdate" quits it.
// Every wait is bounded.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>

#include "testing/pilvo_process.h"
#include "testing/shell.h"
#include "testing/temp_dir.h"
#include "testing/wait.h"
#include "testing/test_environment.h"

namespace {

using pilvo::testing::fileMode;
using pilvo::testing::readFile;
using pilvo::testing::waitUntil;

const std::string kBuildDir = pilvo::testing::buildDir();

// Runs a shell command; its standard output and exit status.
std::pair<std::string, int> run(const std::string& command) {
  auto [output, status] = pilvo::testing::runShell(command);
  return {output, status};
}

class SettingsIntegrationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new pilvo::testing::TempDir();
    const std::string root = dir_->path();
    pilvo::testing::usePrivateHome(root);
    run("mkdir -m 700 '" + root + "/saved'");
    // The socket clients here hold the streams; no interface page competes for them.
    setenv("PILVO_NO_INTERFACE", "1", 1);
    pilvo_ = new pilvo::testing::PilvoProcess();
  }
  static void TearDownTestSuite() {
    // "restartAndUpdate" quits through the normal path: exit status 0, socket gone.
    pilvo_->ctl("--timeout 5 call com.pilvo/updater restartAndUpdate");
    EXPECT_EQ(pilvo_->waitExit(10), std::optional<int>(0)) << "restartAndUpdate did not quit pilvo";
    EXPECT_NE(access(pilvo_->socket().c_str(), F_OK), 0) << "socket left behind";
    delete pilvo_;
    delete dir_;
  }
  void SetUp() override {
    ASSERT_TRUE(pilvo_->running());
    ASSERT_TRUE(waitUntil([] { return access(pilvo_->socket().c_str(), F_OK) == 0; }, 15));
  }

  // pilvoctl's printed reply and exit status.
  static std::pair<std::string, int> call(const std::string& method, const std::string& args) {
    return run("'" + kBuildDir + "/channels/pilvoctl' --socket '" + pilvo_->socket() +
               "' --timeout 30 call com.tavik/settings " + method + " '" + args + "'");
  }
  static std::future<std::pair<std::string, int>> callLater(const std::string& method,
                                                            const std::string& args) {
    return std::async(std::launch::async, [=] { return call(method, args); });
  }
  // The open save dialog's window, once there is one.
  static std::optional<std::string> dialog() {
    std::string id;
    waitUntil(
        [&] {
          id = run("xdotool search --onlyvisible --name '^Save$' | head -n1").first;
          return !id.empty();
        },
        10);
    if (id.empty()) return std::nullopt;
    return id.substr(0, id.find('\n'));
  }
  static bool gone(const std::string& window) {
    return waitUntil(
        [&] {
          return run("xdotool search --onlyvisible --name '^Save$'").first.find(window) ==
                 std::string::npos;
        },
        10);
  }
  static void keys(const std::string& window, const std::string& what) {
    run("xdotool windowactivate --sync " + window + " && sleep 0.3 && " + what);
  }
  static std::string ready(std::future<std::pair<std::string, int>>& reply) {
    if (reply.wait_for(std::chrono::seconds(15)) != std::future_status::ready) return "<none>";
    return reply.get().first;
  }

  static inline const std::string kPilvo = kBuildDir + "/host/pilvo";
  static inline pilvo::testing::TempDir* dir_ = nullptr;
  static inline pilvo::testing::PilvoProcess* pilvo_ = nullptr;
};

TEST_F(SettingsIntegrationTest, LaunchAtLoginWritesAndRemovesTheAutostartEntry) {
  const std::string entry = dir_->path() + "/config/autostart/com.pilvo.Pilvo.desktop";
  EXPECT_EQ(call("setLaunchAtLogin", R"({"enabled":true})"),
            std::make_pair(std::string("null\n"), 0));
  const std::string text = readFile(entry);
  char* program = realpath(kPilvo.c_str(), nullptr);
  ASSERT_TRUE(program);
  EXPECT_NE(text.find("\nExec=" + std::string(program) + "\n"), std::string::npos) << text;
  free(program);
  EXPECT_NE(text.find("\nName=Pilvo\n"), std::string::npos) << text;
  EXPECT_EQ(fileMode(entry), 0644);
  EXPECT_EQ(call("setLaunchAtLogin", R"({"enabled":false})"),
            std::make_pair(std::string("null\n"), 0));
  EXPECT_EQ(fileMode(entry), -1);

  // A directory where the entry belongs: the system's words come back as the message.
  ASSERT_EQ(mkdir(entry.c_str(), 0755), 0);
  const auto [failure, status] = call("setLaunchAtLogin", R"({"enabled":true})");
  EXPECT_EQ(status, 1);
  EXPECT_NE(failure.find("LAUNCH_AT_LOGIN_FAILED"), std::string::npos) << failure;
  EXPECT_NE(failure.find("Is a directory"), std::string::npos) << failure;
  rmdir(entry.c_str());
}

TEST_F(SettingsIntegrationTest, SaveDialogAnswersThePathOrNullWhenItCloses) {
  const std::string target = dir_->path() + "/saved/week.json";
  auto first = callLater("showSavePanel", R"({"name":"focus.json"})");
  const std::optional<std::string> one = dialog();
  ASSERT_TRUE(one) << "no save dialog";
  // While it is open, other calls are answered, and a second request waits its turn.
  auto second = callLater("showSavePanel", R"({"name":"other.json"})");
  EXPECT_EQ(call("setMenuBarVisible", R"({"visible":true})"),
            std::make_pair(std::string("null\n"), 0));
  keys(*one,
       "xdotool key ctrl+a && xdotool type --delay 20 '" + target + "' && xdotool key Return");
  EXPECT_EQ(ready(first), "\"" + target + "\"\n");
  ASSERT_TRUE(gone(*one));

  const std::optional<std::string> two = dialog();
  ASSERT_TRUE(two) << "the second request never got its dialog";
  keys(*two, "xdotool key Escape");
  EXPECT_EQ(ready(second), "null\n");
}

}  // namespace
