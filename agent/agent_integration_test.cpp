// The real pilvo-agent binary in a real X session (Xvfb + openbox), with a
// private HOME and XDG directories. Windows are made here with Xlib so their
// properties (class, title, bytes that are not UTF-8) are under the test's
// control; switching goes through the window manager with xdotool.
#include <gtest/gtest.h>
// Xlib after gtest: Xlib defines macros (None, Bool) that clash with gtest names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_test_support.h"
#include "testing/shell.h"
#include "testing/temp_dir.h"
#include "testing/wait.h"

namespace pilvo::agent {
namespace {

using test::AgentProcess;
using test::count;
using test::describe;
using test::EventRow;
using test::readEvents;
using test::s;
using test::shutDownInOrder;
using pilvo::testing::readFile;
using pilvo::testing::waitUntil;

int runCommand(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

std::string commandOutput(const std::string& cmd) { return pilvo::testing::runShell(cmd).output; }

std::string agentPath() { return PILVO_AGENT_PATH; }

// A top-level window with a chosen WM_CLASS and title.
class TestWindow {
 public:
  TestWindow(Display* dpy, const std::string& instance, const std::string& cls,
             const std::optional<std::string>& title)
      : dpy_(dpy) {
    window_ = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 10, 10, 200, 100, 0, 0, 0xffffff);
    // WM_CLASS is two NUL-terminated strings; raw bytes so a test can break UTF-8.
    std::string wmClass = instance + '\0' + cls + '\0';
    XChangeProperty(dpy, window_, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(wmClass.data()),
                    static_cast<int>(wmClass.size()));
    long pid = getpid();
    XChangeProperty(dpy, window_, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
    if (title) setTitle(*title);
    XMapWindow(dpy, window_);
    XFlush(dpy);
  }
  ~TestWindow() { destroy(); }

  void setTitle(const std::string& title) {
    XChangeProperty(dpy_, window_, XInternAtom(dpy_, "_NET_WM_NAME", False),
                    XInternAtom(dpy_, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    XFlush(dpy_);
  }
  // _NET_WM_WINDOW_TYPE, read by the window manager when the window is mapped.
  void setType(const char* type) {
    Atom atom = XInternAtom(dpy_, type, False);
    XChangeProperty(dpy_, window_, XInternAtom(dpy_, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&atom), 1);
    remap();
  }
  void remap() {
    XUnmapWindow(dpy_, window_);
    XMapWindow(dpy_, window_);
    XFlush(dpy_);
  }
  void destroy() {
    if (!window_) return;
    XDestroyWindow(dpy_, window_);
    XFlush(dpy_);
    window_ = 0;
  }
  Window id() const { return window_; }
  // Brings the window to the front through the window manager and waits for it.
  bool activate() { return runCommand("xdotool windowactivate --sync " + std::to_string(window_)) == 0; }

 private:
  Display* dpy_;
  Window window_ = 0;
};

class AgentIntegrationTest : public test::AgentFixture {
 protected:
  AgentIntegrationTest() : AgentFixture(agentPath()) {}
  void SetUp() override {
    dpy_ = XOpenDisplay(nullptr);
    ASSERT_NE(dpy_, nullptr) << "no X display; run through scripts/with-x-session.sh";
  }
  void TearDown() override {
    for (const pid_t child : children_) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    windows_.clear();
    if (dpy_) XCloseDisplay(dpy_);
  }

  std::vector<std::string> sessionEnv() const override {
    // An X11 session, whatever session runs the tests.
    std::vector<std::string> vars = {"WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=x11"};
    vars.insert(vars.end(), extraEnv_.begin(), extraEnv_.end());
    return vars;
  }
  TestWindow& window(const std::string& cls, const std::optional<std::string>& title = std::nullopt,
                     const std::string& instance = "") {
    windows_.push_back(std::make_unique<TestWindow>(dpy_, instance.empty() ? cls : instance, cls, title));
    TestWindow& w = *windows_.back();
    // Managed once the window manager lists it.
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%08lx", w.id());
    // A window mapped while the window manager is still starting may never be
    // managed; mapping it again once a second gets it seen.
    int tries = 0;
    EXPECT_TRUE(waitUntil(
        [&] {
          if (runCommand(std::string("wmctrl -l | grep -q ") + hex) == 0) return true;
          if (++tries % 50 == 0) w.remap();
          return false;
        },
        10));
    return w;
  }
  // An xterm of class `cls` titled `title`: a window of another process.
  // Returns its window id (0 when it did not show up).
  std::string terminal(const std::string& cls, const std::string& title) {
    const pid_t child = fork();
    if (child == 0) {
      execlp("xterm", "xterm", "-class", cls.c_str(), "-T", title.c_str(), "-e", "sleep", "60",
             nullptr);
      _exit(127);
    }
    children_.push_back(child);
    std::string id;
    waitUntil([&] {
      id = commandOutput("wmctrl -l | grep ' " + title + "$' | cut -d' ' -f1");
      return !id.empty();
    }, 10);
    while (!id.empty() && id.back() == '\n') id.pop_back();
    // The window manager focuses a new terminal once it has mapped it; let that
    // happen now rather than in the middle of the test.
    waitUntil([&] {
      return !id.empty() &&
             commandOutput("xprop -root _NET_ACTIVE_WINDOW").find(id.substr(2)) != std::string::npos;
    }, 2);
    return id;
  }
  bool activate(const std::string& window) {
    return runCommand("timeout 5 xdotool windowactivate --sync " + window) == 0;
  }
  std::vector<std::string> extraEnv_;
  Display* dpy_ = nullptr;
  std::vector<std::unique_ptr<TestWindow>> windows_;
  std::vector<pid_t> children_;
};

TEST_F(AgentIntegrationTest, RecordsSwitchesBetweenApplicationsAndStopsCleanly) {
  TestWindow& a = window("PilvoTestAlpha", "alpha one");
  TestWindow& a2 = window("PilvoTestAlpha", "alpha two");
  TestWindow& b = window("PilvoTestBeta", "beta");
  ASSERT_TRUE(a.activate());
  auto agent = startAgent();
  ASSERT_TRUE(rowsBecome({{"appSwitch", s("PilvoTestAlpha"), s("alpha one")}}))
      << describe(readEvents(dbPath()));

  // The active-window notification carries no value, so each step waits for
  // its row: switches faster than the agent reads them merge into the last.
  ASSERT_TRUE(b.activate());
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 2; }));
  ASSERT_TRUE(a2.activate());
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 3; }));
  ASSERT_TRUE(a.activate());  // a move inside Alpha: a title row, not a switch
  const std::vector<EventRow> expected = {
      {"appSwitch", s("PilvoTestAlpha"), s("alpha one")},
      {"appSwitch", s("PilvoTestBeta"), s("beta")},
      {"appSwitch", s("PilvoTestAlpha"), s("alpha two")},
      {"windowChange", s("PilvoTestAlpha"), s("alpha one")}};
  EXPECT_TRUE(rowsBecome(expected)) << describe(readEvents(dbPath()));

  EXPECT_EQ(agent->stop(SIGINT), 0);
  const std::string text = log();
  EXPECT_TRUE(shutDownInOrder(text, "Received termination signal, shutting down")) << text;
  EXPECT_EQ(readFile(stderrPath()), text) << "every line also goes to standard error";
  EXPECT_EQ(pilvo::testing::fileMode(logPath()), 0600);
  EXPECT_EQ(pilvo::testing::fileMode(home_.file("data/pilvo")), 0700);

  // A second start keeps every row and records the front application again.
  auto again = startAgent();
  EXPECT_TRUE(waitUntil([&] { return rowCount() == expected.size() + 1; }));
  EXPECT_EQ(again->stop(SIGTERM), 0);
}

TEST_F(AgentIntegrationTest, TitlesFollowOnlyTheApplicationInFront) {
  TestWindow& front = window("PilvoTestFront", "first");
  TestWindow& back = window("PilvoTestBack", "back");
  TestWindow& untitled = window("PilvoTestFront");
  ASSERT_TRUE(back.activate());
  ASSERT_TRUE(front.activate());
  auto agent = startAgent();
  ASSERT_TRUE(rowsBecome({{"appSwitch", s("PilvoTestFront"), s("first")}}));

  // Each row carries the title read when the notification arrives, so every
  // step waits for its row before the next change.
  back.setTitle("renamed in the back");
  front.setTitle("second");
  EXPECT_TRUE(waitUntil([&] { return rowCount() == 2; }));
  // xdotool sets WM_NAME and _NET_WM_NAME: one change, one row.
  ASSERT_TRUE(runCommand("xdotool set_window --name third " + std::to_string(front.id())) == 0);
  EXPECT_TRUE(waitUntil([&] { return rowCount() == 3; }));
  front.setTitle("third");  // the same title again is still a change the client made
  EXPECT_TRUE(waitUntil([&] { return rowCount() == 4; }));
  ASSERT_TRUE(front.activate());  // re-activating the same application writes nothing
  ASSERT_TRUE(untitled.activate());  // focus moves to a window of the same application
  const std::vector<EventRow> expected = {
      {"appSwitch", s("PilvoTestFront"), s("first")},
      {"windowChange", s("PilvoTestFront"), s("second")},
      {"windowChange", s("PilvoTestFront"), s("third")},
      {"windowChange", s("PilvoTestFront"), s("third")},
      {"windowChange", s("PilvoTestFront"), std::nullopt}};
  EXPECT_TRUE(rowsBecome(expected)) << describe(readEvents(dbPath()));
  EXPECT_TRUE(waitUntil([&] { return pilvo::testing::fileMode(home_.file("data/pilvo/.ax_trusted")) >= 0; }));
  EXPECT_EQ(agent->stop(), 0);
}

// Applications are their windows, not their processes: two terminals are one
// application, two applications may share a process, and a click on the
// desktop is not a switch.
TEST_F(AgentIntegrationTest, ApplicationsAreTheirWindowsNotTheirProcesses) {
  const std::string one = terminal("PilvoTestTerm", "term one");
  const std::string two = terminal("PilvoTestTerm", "term two");
  ASSERT_FALSE(one.empty() || two.empty()) << "xterm did not show up";
  TestWindow& a = window("PilvoTestShareA", "a one");
  TestWindow& b = window("PilvoTestShareB", "b");  // same process as a
  TestWindow& desktop = window("PilvoTestDesktop", "desktop");
  desktop.setType("_NET_WM_WINDOW_TYPE_DESKTOP");
  ASSERT_TRUE(activate(one));
  auto agent = startAgent();
  ASSERT_TRUE(rowsBecome({{"appSwitch", s("PilvoTestTerm"), s("term one")}}))
      << describe(readEvents(dbPath()));

  ASSERT_TRUE(activate(two));
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 2; }));
  ASSERT_TRUE(activate(one));
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 3; }));
  ASSERT_TRUE(a.activate());
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 4; }));

  // The end of b must not detach the observer of a, its process mate.
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%08lx", b.id());
  b.destroy();
  ASSERT_TRUE(waitUntil([&] { return runCommand(std::string("wmctrl -l | grep -q ") + hex) != 0; }));
  a.setTitle("a renamed");
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 5; }));

  ASSERT_TRUE(activate(std::to_string(desktop.id())));
  a.setTitle("a again");  // a is still the application in front
  const std::vector<EventRow> expected = {
      {"appSwitch", s("PilvoTestTerm"), s("term one")},
      {"windowChange", s("PilvoTestTerm"), s("term two")},
      {"windowChange", s("PilvoTestTerm"), s("term one")},
      {"appSwitch", s("PilvoTestShareA"), s("a one")},
      {"windowChange", s("PilvoTestShareA"), s("a renamed")},
      {"windowChange", s("PilvoTestShareA"), s("a again")}};
  EXPECT_TRUE(rowsBecome(expected)) << describe(readEvents(dbPath()));
  EXPECT_EQ(agent->stop(), 0);
}

// An application installed while the agent runs is named by its desktop
// entry from then on, not by its window class until the next start.
TEST_F(AgentIntegrationTest, ApplicationsInstalledLaterAreNamedByTheirEntry) {
  ::mkdir(home_.file("data").c_str(), 0700);
  ::mkdir(home_.file("data/applications").c_str(), 0700);
  TestWindow& other = window("PilvoTestOther", "other");
  ASSERT_TRUE(other.activate());
  auto agent = startAgent();
  // The index is read again shortly after each change; a window that appears
  // from then on is named by the new entry. Twice: the watch must re-arm.
  for (const std::string name : {"Late", "Later"}) {
    pilvo::testing::writeFile(home_.file("data/applications/org.example." + name + ".desktop"),
                              "[Desktop Entry]\nType=Application\nName=" + name +
                                  "\nExec=late\nStartupWMClass=PilvoTest" + name + "\n");
    bool named = false;
    for (int attempt = 0; attempt < 40 && !named; ++attempt) {
      TestWindow late(dpy_, "PilvoTest" + name, "PilvoTest" + name, "late");
      ASSERT_TRUE(waitUntil([&] { return late.activate(); }));
      ASSERT_TRUE(waitUntil([&] { return readEvents(dbPath()).back().bundleId != s("PilvoTestOther"); }));
      named = readEvents(dbPath()).back().bundleId == "org.example." + name;
      ASSERT_TRUE(other.activate());
      ASSERT_TRUE(waitUntil([&] { return readEvents(dbPath()).back().bundleId == s("PilvoTestOther"); }));
    }
    EXPECT_TRUE(named) << name << "\n" << describe(readEvents(dbPath()));
  }
  EXPECT_EQ(agent->stop(), 0);
}

TEST_F(AgentIntegrationTest, UntrustedWindowPropertiesNeverStopTheAgent) {
  const std::string badClass = "Bad\xff\xfe" "Class";
  TestWindow& bad = window(badClass, std::string("title \xc0 broken"), "bad\xffinstance");
  TestWindow& ok = window("PilvoTestOk", "ok");
  TestWindow& vanishing = window("PilvoTestVanishing", "gone");
  TestWindow& forger = window("Evil\n[2000-01-01T00:00:00Z] Forged", "forger");
  ASSERT_TRUE(ok.activate());
  auto agent = startAgent();
  ASSERT_TRUE(bad.activate());
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 2; }));
  auto rows = readEvents(dbPath());
  EXPECT_EQ(rows[1].bundleId, s("Bad\xEF\xBF\xBD\xEF\xBF\xBD" "Class")) << describe(rows);
  EXPECT_EQ(rows[1].title, s("title \xEF\xBF\xBD broken"));
  // A line break in WM_CLASS neither starts a log line nor enters an identifier.
  ASSERT_TRUE(forger.activate());
  ASSERT_TRUE(waitUntil([&] { return rowCount() == 3; }));
  EXPECT_EQ(readEvents(dbPath())[2].bundleId, s("Evil\xEF\xBF\xBD[2000-01-01T00:00:00Z] Forged"));
  EXPECT_EQ(log().find("\n[2000-01-01T00:00:00Z]"), std::string::npos) << log();
  ASSERT_TRUE(vanishing.activate());
  vanishing.destroy();  // vanishes right after the switch, while the agent may still query it
  ASSERT_TRUE(ok.activate());
  ASSERT_TRUE(waitUntil([&] { return rowCount() >= 4 && readEvents(dbPath()).back().bundleId == s("PilvoTestOk"); }));
  EXPECT_TRUE(agent->running());
  EXPECT_EQ(agent->stop(), 0);
}

TEST_F(AgentIntegrationTest, OnlyOneAgentRecordsAtATimeAndACrashLeavesNoStaleLock) {
  TestWindow& a = window("PilvoTestSingle", "single");
  ASSERT_TRUE(a.activate());
  auto first = startAgent();
  ASSERT_TRUE(rowsBecome({{"appSwitch", s("PilvoTestSingle"), s("single")}}));
  auto second = startAgent(/*waitRunning=*/false);
  EXPECT_EQ(second->waitExit(), 4);
  EXPECT_EQ(log().find("Wayland"), std::string::npos) << "no warning in an X11 session";
  EXPECT_NE(log().find("Another pilvo-agent is already running (pid " +
                       std::to_string(first->pid()) + "); exiting\n"),
            std::string::npos) << log();
  EXPECT_EQ(rowCount(), 1u);
  EXPECT_EQ(count(log(), "Opening database at "), 1u);

  kill(first->pid(), SIGKILL);
  first->waitExit();
  auto third = startAgent();
  EXPECT_TRUE(waitUntil([&] { return rowCount() == 2; }));
  EXPECT_EQ(third->stop(), 0);
}

TEST_F(AgentIntegrationTest, WaylandSessionIsNamedAtStart) {
  // A runtime directory without a compositor's socket.
  extraEnv_ = {"WAYLAND_DISPLAY=wayland-0", "XDG_SESSION_TYPE=wayland",
               "XDG_RUNTIME_DIR=" + home_.file("home")};
  auto agent = startAgent();
  EXPECT_EQ(count(log(), "] Warning: this is a Wayland session and only X11 (XWayland) applications"),
            1u) << log();
  EXPECT_LT(log().find("Wayland session"), log().find("Opening database at "));
  // No compositor answers there, so the log says why X11 is used.
  EXPECT_NE(log().find("] The Wayland backend is not used: cannot connect to the Wayland "
                       "compositor"),
            std::string::npos) << log();
  EXPECT_NE(log().find("] Desktop: X11 ("), std::string::npos) << log();
  EXPECT_EQ(agent->stop(), 0);
}

TEST_F(AgentIntegrationTest, StoreThatCannotBeOpenedIsFatal) {
  // The support path is a file; then a data directory the user may not write
  // (root ignores permission bits, so then the agent runs as "nobody").
  ::mkdir(home_.file("data").c_str(), 0755);
  pilvo::testing::writeFile(home_.file("data/pilvo"), "a file where the directory should be");
  ::mkdir(home_.file("ro").c_str(), 0555);
  ::chmod(home_.path().c_str(), 0755);
  // A copy the other user can reach, wherever the build directory lies.
  const std::string agent = home_.file("pilvo-agent");
  ASSERT_EQ(runCommand("cp " + agentPath() + " " + agent + " && chmod 755 " + agent), 0);
  for (const std::string& data : {home_.file("data"), home_.file("ro")}) {
    std::string cmd = "env -i DISPLAY=\"$DISPLAY\" HOME=" + home_.file("home") + " XDG_DATA_HOME=" +
                      data + " XDG_STATE_HOME=" + data + "/state " + agent + " 2>" + stderrPath();
    if (geteuid() == 0) cmd = "setpriv --reuid=65534 --regid=65534 --clear-groups " + cmd;
    const int status = std::system(("timeout 10 " + cmd).c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = readFile(stderrPath());
    EXPECT_NE(err.find("] Fatal error: "), std::string::npos) << err;
    EXPECT_NE(err.find(data == home_.file("ro") ? "Permission denied" : "Not a directory"),
              std::string::npos) << err;
    EXPECT_EQ(err.find("entering run loop"), std::string::npos);
  }
}

TEST_F(AgentIntegrationTest, UnusableLogDirectoryKeepsEveryLineOnStandardError) {
  pilvo::testing::writeFile(home_.file("state"), "not a directory");
  auto agent = startAgent(/*waitRunning=*/false);
  ASSERT_TRUE(waitUntil([&] { return readFile(stderrPath()).find("entering run loop") != std::string::npos; }));
  EXPECT_EQ(agent->stop(), 0);
  const std::string err = readFile(stderrPath());
  EXPECT_NE(err.find("PilvoAgent starting (pid "), std::string::npos);
  EXPECT_NE(err.find("Database closed"), std::string::npos);
}

TEST_F(AgentIntegrationTest, StoreKilledDuringABurstStaysIntact) {
  TestWindow& a = window("PilvoTestBurstA", "a");
  TestWindow& b = window("PilvoTestBurstB", "b");
  auto agent = startAgent();
  // Renames of the front window write a row each; kill -9 lands in the middle.
  ASSERT_TRUE(a.activate());
  for (int i = 0; i < 300; ++i) a.setTitle("burst " + std::to_string(i));
  XSync(dpy_, False);
  waitUntil([&] { return rowCount() > 50; });
  kill(agent->pid(), SIGKILL);
  agent->waitExit();
  (void)b;

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dbPath().c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
  sqlite3_finalize(st);
  sqlite3_close(db);
  const size_t before = rowCount();
  auto again = startAgent();
  EXPECT_GE(rowCount(), before);
  EXPECT_EQ(again->stop(), 0);
}

TEST_F(AgentIntegrationTest, LosingTheDisplayShutsDownAndAsksForARestart) {
  // A display of our own that we can take away. Two servers starting at once
  // may pick the same number; the loser exits, and then we start another.
  pid_t xvfb = -1;
  std::string display;
  // The X session script starts its servers under the same lock.
  const int startLock = open("/tmp/pilvo-xvfb-start.lock", O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (startLock >= 0) flock(startLock, LOCK_EX);
  for (int attempt = 0; attempt < 5 && display.empty(); ++attempt) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    xvfb = fork();
    if (xvfb == 0) {
      close(fds[0]);
      execlp("Xvfb", "Xvfb", "-displayfd", std::to_string(fds[1]).c_str(), "-nolisten", "tcp", "-noreset",
             nullptr);
      _exit(127);
    }
    close(fds[1]);
    char buf[16] = {};
    const ssize_t n = read(fds[0], buf, sizeof buf - 1);
    close(fds[0]);
    const std::string candidate = ":" + std::string(buf, n > 0 ? strcspn(buf, "\n") : 0);
    const auto alive = [&] { return waitpid(xvfb, nullptr, WNOHANG) == 0; };
    const bool answers = n > 0 && waitUntil([&] {
      Display* probe = XOpenDisplay(candidate.c_str());
      if (probe) XCloseDisplay(probe);
      return probe != nullptr || !alive();
    }, 10) && alive();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (answers && alive()) {
      display = candidate;
    } else if (kill(xvfb, SIGKILL) == 0) {
      waitpid(xvfb, nullptr, 0);
    }
  }
  if (startLock >= 0) close(startLock);
  ASSERT_FALSE(display.empty()) << "no Xvfb of our own";
  struct KillOnExit {
    pid_t pid;
    ~KillOnExit() {
      if (kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
  } xvfbGuard{xvfb};

  auto agent = std::make_unique<AgentProcess>(
      agentPath(), std::vector<std::string>{"HOME=" + home_.file("home"), "XDG_DATA_HOME=" + home_.file("data"),
                               "XDG_STATE_HOME=" + home_.file("state"), "DISPLAY=" + display},
      stderrPath());
  ASSERT_TRUE(waitUntil([&] { return log().find("entering run loop") != std::string::npos; }, 20))
      << readFile(stderrPath());
  kill(xvfb, SIGKILL);
  EXPECT_EQ(agent->waitExit(), 3);
  const std::string text = log();
  EXPECT_NE(text.find("Monitor stopped\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Database closed\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace pilvo::agent
