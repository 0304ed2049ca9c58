// The X11 platform against a real X server and window manager (Xvfb +
// openbox, see scripts/with-x-session.sh): the shared contract plus what only
// the real desktop can show.
//
// gtest first: Xlib's macros (None, Bool) clash with its names.
// clang-format off
#include "x11/platform_contract.h"
#include "x11/x11_platform.h"
// clang-format on

#include <X11/Xatom.h>
#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "x11/x11_accessibility.h"
#include "x11/x11_desktop.h"
#include "x11/x11_input_idleness.h"
#include "x11/x11_test_support.h"
#include "x11/x11_workspace.h"

namespace pilvo::x11 {
namespace {

using testing::TestClient;
using testing::waitUntil;
using testing::wmClass;

class X11DesktopDriver final : public pilvo::testing::DesktopDriver {
 public:
  explicit X11DesktopDriver(double twinWaitSeconds = X11Accessibility::kTwinWaitSeconds)
      : index_(std::vector<std::string>{}) {
    static const bool managed = testing::waitForWindowManager();
    EXPECT_TRUE(managed) << "no window manager manages windows";
    std::string error;
    connection_ = XConnection::open(loop_, "", &error);
    EXPECT_NE(connection_, nullptr) << error;
    EXPECT_TRUE(client_.ok());
    desktop_ = std::make_unique<X11Desktop>(*connection_, index_);
    workspace_ = std::make_unique<X11Workspace>(*desktop_);
    accessibility_ = std::make_unique<X11Accessibility>(*desktop_, twinWaitSeconds);
  }
  ~X11DesktopDriver() override {
    // Leave no windows of this process behind for the next test.
    client_.destroyAll();
    waitUntil([&] {
      for (const RunningApp& app : desktop_->runningApplications()) {
        if (app.pid == getpid()) return false;
      }
      return true;
    });
    accessibility_.reset();
    workspace_.reset();
    desktop_.reset();
  }

  Workspace& workspace() override { return *workspace_; }
  Accessibility& accessibility() override { return *accessibility_; }
  X11Desktop& desktop() { return *desktop_; }
  X11Accessibility& x11Accessibility() { return *accessibility_; }
  XConnection& connection() { return *connection_; }
  TestClient& client() { return client_; }

  uint64_t openWindow(const std::string& name, const std::string& title) override {
    const Window window = client_.createWindow(wmClass(name, name), title, title);
    owners_[window] = name;
    const RunningApp app{.bundleId = name, .pid = getpid()};
    EXPECT_TRUE(waitUntil([&] {
      const auto windows = desktop_->windowsOf(app);
      return std::find(windows.begin(), windows.end(), window) != windows.end();
    })) << "the window manager did not list window "
        << window;
    settle();
    return window;
  }

  void focus(uint64_t window) override {
    client_.requestActivation(static_cast<Window>(window));
    EXPECT_TRUE(waitUntil([&] { return desktop_->activeWindow() == window; }))
        << "the window manager did not activate window " << window;
    settle();
  }

  void rename(uint64_t window, const std::string& title) override {
    // WM_NAME first, then _NET_WM_NAME: the order that could give two changes.
    client_.setText(static_cast<Window>(window), "WM_NAME", "STRING", title);
    client_.setText(static_cast<Window>(window), "_NET_WM_NAME", "UTF8_STRING", title);
  }

  void closeApp(const std::string& name) override {
    for (auto it = owners_.begin(); it != owners_.end();) {
      if (it->second != name) {
        ++it;
        continue;
      }
      client_.destroy(it->first);
      it = owners_.erase(it);
    }
  }

  bool settle(const std::function<bool()>& condition = {}) override {
    client_.sync();
    const bool met = !condition || waitUntil(condition);
    // Every event the server generated so far is now on our socket.
    XSync(connection_->display(), False);
    connection_->dispatchPending();
    testing::runReady();
    return met || condition();
  }

 private:
  GlibEventLoop loop_;
  DesktopEntryIndex index_;
  TestClient client_;
  std::unique_ptr<XConnection> connection_;
  std::unique_ptr<X11Desktop> desktop_;
  std::unique_ptr<X11Workspace> workspace_;
  std::unique_ptr<X11Accessibility> accessibility_;
  std::map<Window, std::string> owners_;
};

TEST(X11DesktopTest, UntrustedPropertiesAreRepairedNeverDropped) {
  X11DesktopDriver driver;
  TestClient& client = driver.client();
  const Window broken = client.createWindow(wmClass("inst\xff", "Bad\xc3(Class"), "t\xe9st\xff");
  const Window latin1 = client.createWindow(wmClass("legacy", "Legacy"), std::nullopt,
                                            "Caf\xe9");  // WM_NAME as STRING (ISO 8859-1)
  const Window untitled = client.createWindow(wmClass("untitled", "Untitled"), std::nullopt);
  // UTF-8 bytes typed STRING in _NET_WM_NAME are still UTF-8.
  const Window mistyped = client.createWindow(wmClass("mistyped", "Mistyped"), std::nullopt);
  client.setText(mistyped, "_NET_WM_NAME", "STRING", "na\xc3\xafve");
  const Window compound = client.createWindow(wmClass("ct", "Ct"), std::nullopt);
  client.setText(compound, "WM_NAME", "COMPOUND_TEXT", "plain \x1b-A\xe9t\xe9");
  const std::string huge(100 * 1024, 'x');
  const Window big = client.createWindow(wmClass("big", "Big"), huge + std::string("\0end", 4));
  client.sync();

  const auto app = driver.desktop().applicationOf(broken);
  ASSERT_TRUE(app);
  EXPECT_EQ(app->bundleId, "Bad\xEF\xBF\xBD(Class");
  EXPECT_EQ(app->localizedName, app->bundleId);
  EXPECT_EQ(app->pid, getpid());
  Accessibility& ax = driver.accessibility();
  EXPECT_EQ(ax.titleOf(broken), "t\xEF\xBF\xBDst\xEF\xBF\xBD");
  EXPECT_EQ(ax.titleOf(latin1), "Caf\xc3\xa9");
  EXPECT_EQ(ax.titleOf(untitled), std::nullopt);
  EXPECT_EQ(ax.titleOf(mistyped), "na\xc3\xafve");
  EXPECT_EQ(ax.titleOf(compound), "plain \xc3\xa9t\xc3\xa9");
  EXPECT_EQ(ax.titleOf(big), huge + std::string("\0end", 4));
  EXPECT_EQ(ax.titleOf(0), std::nullopt);
}

TEST(X11DesktopTest, WindowThatVanishesMidQueryIsSkipped) {
  X11DesktopDriver driver;
  const uint64_t window = driver.openWindow("vanishing", "here");
  const RunningApp app{.bundleId = "vanishing", .pid = getpid(), .window = window};
  const unsigned long errorsBefore = driver.connection().errorCount();
  // Gone on the server; the window manager's update has not been read yet.
  driver.client().destroy(static_cast<Window>(window));

  EXPECT_EQ(driver.accessibility().titleOf(window), std::nullopt);
  EXPECT_EQ(driver.accessibility().focusedWindowTitle(app), std::nullopt);
  EXPECT_EQ(driver.accessibility().createObserver(app, [](ElementRef, std::string_view) {}),
            nullptr);
  EXPECT_TRUE(driver.desktop().reader().identityFacts(static_cast<Window>(window)).gone);
  EXPECT_GT(driver.connection().errorCount(), errorsBefore) << "BadWindow was trapped";
  XConnection::ErrorTrap trap(driver.connection());
  XSelectInput(driver.connection().display(), static_cast<Window>(window), PropertyChangeMask);
  EXPECT_TRUE(trap.failed());
  EXPECT_EQ(trap.errorCode(), BadWindow);
  XConnection::ErrorTrap clean(driver.connection());
  XSelectInput(driver.connection().display(), driver.connection().root(), PropertyChangeMask);
  EXPECT_FALSE(clean.failed());
  EXPECT_FALSE(driver.connection().lost());

  // A dialog whose parent vanished is named by its own properties.
  const Window parent = driver.client().createWindow(wmClass("p", "Parent"), "parent");
  const Window dialog =
      driver.client().createWindow(wmClass("d", "Dialog"), "dialog", std::nullopt, parent);
  driver.client().destroy(parent);
  const WindowIdentityFacts facts = driver.desktop().reader().identityFacts(dialog);
  EXPECT_FALSE(facts.gone);
  EXPECT_EQ(facts.facts.wmClassClass, "Dialog");
  EXPECT_TRUE(driver.settle());
}

TEST(X11DesktopTest, TransientWindowsBelongToTheirParentsApplication) {
  X11DesktopDriver driver;
  const uint64_t main = driver.openWindow("parent-app", "main");
  const Window dialog = driver.client().createWindow(wmClass("dlg", "SomethingElse"), "dialog",
                                                     std::nullopt, static_cast<Window>(main));
  driver.focus(main);
  pilvo::testing::DesktopDriver& d = driver;
  struct : WorkspaceObserver {
    int activations = 0;
    void appDidActivate(const RunningApp&) override { ++activations; }
    void appDidTerminate(const RunningApp&) override {}
  } observer;
  d.workspace().setObserver(&observer);
  driver.focus(dialog);
  const auto front = d.workspace().frontmostApplication();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->bundleId, "parent-app");
  EXPECT_EQ(front->window, dialog);
  EXPECT_EQ(d.accessibility().focusedWindowTitle(*front), "dialog");
  EXPECT_EQ(observer.activations, 0) << "a dialog of the front application is no switch";
  d.workspace().setObserver(nullptr);
  driver.client().destroy(dialog);
}

TEST(X11DesktopTest, RunningApplicationsInOrderOfAppearanceWithPolicyAndActivation) {
  X11DesktopDriver driver;
  const uint64_t editor = driver.openWindow("order-editor", "editor");
  const uint64_t palette = driver.openWindow("order-palette", "palette");
  driver.client().setAtoms(static_cast<Window>(palette), "_NET_WM_WINDOW_TYPE",
                           {"_NET_WM_WINDOW_TYPE_UTILITY"});
  driver.openWindow("order-editor", "editor 2");
  driver.client().sync();

  std::vector<RunningApp> ours;
  for (const RunningApp& app : driver.desktop().runningApplications()) {
    if (app.pid == getpid()) ours.push_back(app);
  }
  ASSERT_EQ(ours.size(), 2u) << "two windows of one application are one application";
  EXPECT_EQ(ours[0].bundleId, "order-editor");
  EXPECT_EQ(ours[0].window, editor);
  EXPECT_EQ(ours[0].activationPolicy, ActivationPolicy::kRegular);
  EXPECT_EQ(ours[1].bundleId, "order-palette");
  EXPECT_EQ(ours[1].activationPolicy, ActivationPolicy::kAccessory);

  ASSERT_TRUE(driver.desktop().activate(ours[1]));
  EXPECT_TRUE(waitUntil([&] { return driver.desktop().activeWindow() == palette; }));
  EXPECT_FALSE(driver.desktop().activate(RunningApp{.bundleId = "not-running", .pid = 1}));
}

TEST(X11DesktopTest, LegacyAndMixedTitleWritersGiveOneChangePerRename) {
  // A generous wait for the second name, so the outcome does not depend on speed.
  X11DesktopDriver driver(/*twinWaitSeconds=*/1.0);
  const uint64_t legacy = driver.openWindow("legacy-app", "unused");
  const auto window = static_cast<Window>(legacy);
  driver.client().deleteProperty(window, "_NET_WM_NAME");
  driver.focus(legacy);
  const auto app = driver.workspace().frontmostApplication();
  ASSERT_TRUE(app);
  std::vector<ElementRef> changes;
  auto observer =
      driver.accessibility().createObserver(*app, [&](ElementRef element, std::string_view name) {
        if (name == kTitleChanged) changes.push_back(element);
      });
  ASSERT_NE(observer, nullptr);
  const auto noMoreThan = [&](size_t count) {
    return !waitUntil([&] { return changes.size() > count; }, std::chrono::milliseconds(1500));
  };

  // A client that only knows WM_NAME: reported once the wait for a twin is over.
  driver.client().setText(window, "WM_NAME", "STRING", "old style");
  ASSERT_TRUE(driver.settle([&] { return changes.size() == 1; }));
  EXPECT_EQ(driver.accessibility().titleOf(legacy), "old style");
  // WM_NAME, and _NET_WM_NAME for the first time only after this side has
  // already seen the WM_NAME change: still one change.
  driver.client().setText(window, "WM_NAME", "STRING", "both");
  driver.settle();
  driver.client().setText(window, "_NET_WM_NAME", "UTF8_STRING", "both");
  ASSERT_TRUE(driver.settle([&] { return changes.size() >= 2; }));
  EXPECT_TRUE(noMoreThan(2));
  // xdotool writes both names (and the icon names) too.
  ASSERT_EQ(testing::runProgram(
                {"xdotool", "set_window", "--name", "from xdotool", std::to_string(legacy)}),
            0);
  ASSERT_TRUE(driver.settle([&] { return changes.size() >= 3; }));
  EXPECT_TRUE(noMoreThan(3));
  EXPECT_EQ(driver.accessibility().titleOf(legacy), "from xdotool");
}

TEST(X11DesktopTest, EventsReadByARoundTripOutsideDispatchAreNotLeftBehind) {
  X11DesktopDriver driver;
  const uint64_t first = driver.openWindow("queue-a", "first");
  const uint64_t second = driver.openWindow("queue-b", "second");
  driver.focus(first);
  // The window manager switches while this side is busy elsewhere: its
  // notifications are on our socket before the next query is made.
  driver.client().requestActivation(static_cast<Window>(second));
  ASSERT_TRUE(testing::waitForActiveWindow(driver.client(), static_cast<Window>(second)));
  // A query from outside event dispatch (a timer, say) reads them along with its reply.
  EXPECT_EQ(driver.accessibility().titleOf(first), "first");
  // They must still be dispatched, without waiting for some later event.
  EXPECT_TRUE(waitUntil([&] { return driver.desktop().activeWindow() == second; }));
}

TEST(X11DesktopTest, ProcessExitTerminatesTheApplicationOnce) {
  X11DesktopDriver driver;
  struct : WorkspaceObserver {
    std::vector<RunningApp> ended;
    void appDidActivate(const RunningApp&) override {}
    void appDidTerminate(const RunningApp& app) override { ended.push_back(app); }
  } observer;
  driver.workspace().setObserver(&observer);
  GPid child = 0;
  const char* argv[] = {"xterm", "-class", "PilvoProbeTerm", "-e", "sleep", "60", nullptr};
  ASSERT_TRUE(
      g_spawn_async(nullptr, const_cast<char**>(argv), nullptr,
                    static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                    nullptr, nullptr, &child, nullptr));
  RunningApp term;
  ASSERT_TRUE(waitUntil([&] {
    for (const RunningApp& app : driver.desktop().runningApplications()) {
      if (app.bundleId == "PilvoProbeTerm") term = app;
    }
    return term.pid != 0;
  })) << "xterm did not show up";
  EXPECT_EQ(term.pid, child);
  EXPECT_EQ(term.activationPolicy, ActivationPolicy::kRegular);

  kill(child, SIGKILL);
  ASSERT_TRUE(waitUntil([&] { return !observer.ended.empty(); }));
  // Both the pidfd and the client list saw the end; it is reported once.
  waitUntil([&] { return driver.desktop().windowsOf(term).empty(); });
  driver.settle();
  ASSERT_EQ(observer.ended.size(), 1u);
  EXPECT_TRUE(observer.ended[0].sameApplication(term));
  waitpid(child, nullptr, 0);
  driver.workspace().setObserver(nullptr);
}

TEST(X11InputIdlenessTest, OnlyKeysPointerMotionAndLeftClicksCountAsInput) {
  X11DesktopDriver driver;
  double now = 1000;
  X11InputIdleness idleness(driver.connection(), [&] { return now; });
  ASSERT_TRUE(idleness.available()) << idleness.problem();
  now = 1100;
  const auto since = [&](InputKind kind) { return idleness.secondsSinceLastEvent(kind); };
  // Runs xdotool and waits until its raw events have been read.
  const auto input = [&](std::vector<std::string> command, uint64_t events) {
    const uint64_t before = idleness.rawEventsSeen();
    command.insert(command.begin(), "xdotool");
    ASSERT_EQ(testing::runProgram(command), 0);
    ASSERT_TRUE(driver.settle([&] { return idleness.rawEventsSeen() >= before + events; }));
  };
  EXPECT_EQ(since(InputKind::kMouseMoved), 100) << "before input: since creation";

  input({"click", "4"}, 1);  // scrolling: button 4/5, maybe emulated scroll valuators
  input({"click", "5"}, 1);
  input({"click", "8"}, 1);      // another button (3 would open the root menu of openbox)
  input({"key", "Shift_L"}, 1);  // a modifier alone
  EXPECT_EQ(since(InputKind::kMouseMoved), 100);
  EXPECT_EQ(since(InputKind::kLeftMouseDown), 100);
  EXPECT_EQ(since(InputKind::kKeyDown), 100);

  now = 1200;
  input({"mousemove_relative", "--", "-7", "5"}, 1);  // XTest motion (absolute moves warp)
  EXPECT_EQ(since(InputKind::kMouseMoved), 0);
  EXPECT_EQ(since(InputKind::kKeyDown), 200);
  now = 1210;
  input({"click", "1"}, 1);
  EXPECT_EQ(since(InputKind::kLeftMouseDown), 0);
  EXPECT_EQ(since(InputKind::kMouseMoved), 10);
  now = 1220;
  input({"key", "a"}, 1);
  EXPECT_EQ(since(InputKind::kKeyDown), 0);
  EXPECT_EQ(since(InputKind::kLeftMouseDown), 10);
}

TEST(X11PlatformTest, LostDisplayIsReportedOnceWithoutBusyLoop) {
  // A display of our own that we can pull away.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t xvfb = fork();
  if (xvfb == 0) {
    dup2(pipeFds[1], 3);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "320x240x24",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  std::string number;
  char ch = 0;
  while (read(pipeFds[0], &ch, 1) == 1 && ch != '\n') number.push_back(ch);
  close(pipeFds[0]);
  ASSERT_FALSE(number.empty()) << "Xvfb did not start";

  GlibEventLoop loop;
  std::string error;
  auto platform = X11Platform::open(loop, &error, ":" + number);
  ASSERT_NE(platform, nullptr) << error;
  // Something in front, so that "nothing after the loss" means something.
  Display* client = XOpenDisplay((":" + number).c_str());
  ASSERT_NE(client, nullptr);
  const Window window =
      XCreateSimpleWindow(client, DefaultRootWindow(client), 0, 0, 10, 10, 0, 0, 0);
  XChangeProperty(client, DefaultRootWindow(client),
                  XInternAtom(client, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&window), 1);
  XSync(client, False);
  ASSERT_TRUE(waitUntil([&] { return platform->desktop().activeWindow() == window; }));
  ASSERT_TRUE(platform->workspace().frontmostApplication());
  XCloseDisplay(client);  // before the server goes: its I/O error would not be ours
  int lost = 0;
  platform->setDisplayLostHandler([&] { ++lost; });

  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);
  ASSERT_TRUE(waitUntil([&] { return lost > 0; }));
  EXPECT_TRUE(platform->displayLost());
  // Calls after the loss answer "nothing" instead of crashing.
  EXPECT_FALSE(platform->workspace().frontmostApplication());
  EXPECT_EQ(platform->accessibility().titleOf(42), std::nullopt);
  EXPECT_EQ(platform->accessibility().createObserver(RunningApp{.pid = 1, .window = 42},
                                                     [](ElementRef, std::string_view) {}),
            nullptr);
  // The dead socket is no longer watched: the loop goes quiet.
  int spins = 0;
  while (spins < 1000 && g_main_context_iteration(nullptr, FALSE)) ++spins;
  EXPECT_LT(spins, 10);
  EXPECT_EQ(lost, 1);
  platform.reset();
}

TEST(X11PlatformTest, OpeningAMissingDisplaySaysWhatToDo) {
  GlibEventLoop loop;
  std::string error;
  EXPECT_EQ(X11Platform::open(loop, &error, ":4242"), nullptr);
  EXPECT_EQ(error, "cannot open X display ':4242' — is DISPLAY set and an X11 session running?");
}

}  // namespace
}  // namespace pilvo::x11

namespace pilvo::testing {
INSTANTIATE_TEST_SUITE_P(X11, PlatformContractTest, ::testing::Values(DriverFactory([] {
                           return std::make_unique<x11::X11DesktopDriver>();
                         })),
                         [](const auto&) { return std::string("desktop"); });
}  // namespace pilvo::testing
