// The X11 platform against a real X server and window manager (Xvfb +
// openbox, see scripts/with-x-session.sh): the shared contract plus what only
// the real desktop can show and the agent's end-to-end test cannot pin.
//
// gtest first: Xlib's macros (None, Bool) clash with its names.
// clang-format off
#include <gmock/gmock.h>
#include "x11/platform_contract.h"
#include "x11/x11_platform.h"
// clang-format on

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/scrnsaver.h>
#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <tuple>

#include "common/glib_event_loop.h"
#include "x11/x11_accessibility.h"
#include "x11/x11_desktop.h"
#include "x11/x11_input_idleness.h"
#include "x11/x11_workspace.h"

namespace pilvo::x11 {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using pilvo::testing::WorkspaceRecorder;

// Waits until `condition` holds or `timeout` passes: turning the thread-default
// GLib context (a 20 ms tick bounds each blocking turn), or, without
// `turnLoop`, checking every 5 ms while nothing of the loop runs.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s,
               bool turnLoop = true) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const guint tick = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, {});
  bool met = condition();
  while (!met && std::chrono::steady_clock::now() < deadline) {
    turnLoop ? void(g_main_context_iteration(nullptr, TRUE)) : g_usleep(5 * 1000);
    met = condition();
  }
  g_source_remove(tick);
  return met;
}

// Runs a command for at most 10 s; true when it succeeded.
bool run(const std::string& command) {
  return std::system(("timeout 10 " + command + " >/dev/null 2>&1").c_str()) == 0;
}

// The platform on one connection, the test's windows on a client connection of
// their own (as another application's would be).
class X11DesktopDriver final : public pilvo::testing::DesktopDriver {
 public:
  explicit X11DesktopDriver(double twinWaitSeconds = X11Accessibility::kTwinWaitSeconds)
      : index_(std::vector<std::string>{}), client_(XOpenDisplay(nullptr)) {
    EXPECT_NE(client_, nullptr);
    std::string error;
    connection_ = XConnection::open(loop_, "", &error);
    EXPECT_NE(connection_, nullptr) << error;
    desktop_ = std::make_unique<X11Desktop>(*connection_, index_);
    workspace_ = std::make_unique<X11Workspace>(*desktop_);
    accessibility_ = std::make_unique<X11Accessibility>(*desktop_, twinWaitSeconds);
    // Once per process: a window manager still starting on a busy machine may
    // never manage a window mapped meanwhile, so probe until one is managed.
    static bool managed = false;
    for (int attempt = 0; attempt < 10 && !managed; ++attempt) {
      const Window probe = create("probe\0Probe\0"s, "probe");
      managed =
          waitUntil([&] { return std::ranges::count(rootItems("_NET_CLIENT_LIST"), probe); }, 1s);
      destroy(probe);
    }
    EXPECT_TRUE(managed) << "no window manager manages windows";
  }
  ~X11DesktopDriver() override {
    if (client_) XCloseDisplay(client_);  // destroys every window of the test
    for (const GPid child : children_) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    // Leave no windows of this process behind for the next test.
    waitUntil([&] { return ours().empty(); });
  }

  Workspace& workspace() override { return *workspace_; }
  Accessibility& accessibility() override { return *accessibility_; }
  X11Desktop& desktop() { return *desktop_; }
  XConnection& connection() { return *connection_; }
  // A 32-bit root-window property, read straight from the server.
  std::vector<uint32_t> rootItems(const char* property) {
    const auto raw = connection_->getProperty(connection_->root(), connection_->atom(property));
    return raw ? parseCardinalList(*raw) : std::vector<uint32_t>{};
  }
  // The running applications of this process.
  std::vector<RunningApp> ours() {
    std::vector<RunningApp> apps = desktop_->runningApplications();
    std::erase_if(apps, [](const RunningApp& app) { return app.pid != getpid(); });
    return apps;
  }

  // A mapped top-level window with WM_CLASS as raw bytes, _NET_WM_NAME
  // (UTF8_STRING) and WM_NAME (STRING) when given, and WM_TRANSIENT_FOR.
  Window create(const std::string& wmClassBytes, std::optional<std::string> netName,
                std::optional<std::string> wmName = std::nullopt, uint64_t transientFor = None) {
    const Window window =
        XCreateSimpleWindow(client_, DefaultRootWindow(client_), 10, 10, 200, 120, 0, 0, 0xffffff);
    setText(window, "WM_CLASS", "STRING", wmClassBytes);
    if (netName) setText(window, "_NET_WM_NAME", "UTF8_STRING", *netName);
    if (wmName) setText(window, "WM_NAME", "STRING", *wmName);
    if (transientFor != None) XSetTransientForHint(client_, window, transientFor);
    // User time 0: the window manager does not focus the window when it maps
    // it, so focus moves only when a test asks for it.
    setItems(window, "_NET_WM_USER_TIME", XA_CARDINAL, {0});
    setItems(window, "_NET_WM_PID", XA_CARDINAL, {getpid()});
    XMapWindow(client_, window);
    XSync(client_, False);
    return window;
  }
  void setText(uint64_t window, const char* property, const char* type, const std::string& bytes) {
    set(window, property, XInternAtom(client_, type, False), 8, bytes.data(), bytes.size());
  }
  void setItems(uint64_t window, const char* property, Atom type, const std::vector<long>& items) {
    set(window, property, type, 32, items.data(), items.size());
  }
  void set(uint64_t window, const char* property, Atom type, int format, const void* data,
           size_t count) {
    XChangeProperty(client_, window, XInternAtom(client_, property, False), type, format,
                    PropModeReplace, static_cast<const unsigned char*>(data),
                    static_cast<int>(count));
    XSync(client_, False);
  }
  void destroy(uint64_t window) {
    XDestroyWindow(client_, window);
    XSync(client_, False);
  }

  uint64_t openWindow(const std::string& name, const std::string& title) override {
    const Window window = create(name + '\0' + name + '\0', title, title);
    const RunningApp app{.bundleId = name, .pid = getpid()};
    EXPECT_TRUE(waitUntil([&] { return std::ranges::count(desktop_->windowsOf(app), window); }))
        << "the window manager did not list window " << window;
    settle();
    return window;
  }
  // A terminal of its own: a real second process whose window is named by
  // the class given here.
  uint64_t openWindowInOwnProcess(const std::string& name, const std::string& title) override {
    GPid child = 0;
    const char* argv[] = {"xterm", "-class", name.c_str(), "-T", title.c_str(), "-e",
                          "sleep", "60", nullptr};
    EXPECT_TRUE(g_spawn_async(nullptr, const_cast<char**>(argv), nullptr,
                              GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                              nullptr, nullptr, &child, nullptr));
    children_.push_back(child);
    uint64_t window = 0;
    EXPECT_TRUE(waitUntil([&] {
      for (const uint64_t w : desktop_->windowsOf({.bundleId = name})) {
        if (desktop_->applicationOf(w).value_or(RunningApp{}).pid == child) window = w;
      }
      return window != 0;
    })) << "xterm did not show up";
    // The window manager focuses a new terminal once it has mapped it; let that
    // happen now rather than in the middle of the test.
    waitUntil([&] { return desktop_->activeWindow() == window; }, 2s);
    settle();
    return window;
  }
  void focus(uint64_t window) override {
    EXPECT_TRUE(run("xdotool windowactivate " + std::to_string(window)));
    EXPECT_TRUE(waitUntil([&] { return desktop_->activeWindow() == window; }))
        << "the window manager did not activate window " << window;
    settle();
  }
  void rename(uint64_t window, const std::string& title) override {
    // WM_NAME first, then _NET_WM_NAME: the order that could give two changes.
    setText(window, "WM_NAME", "STRING", title);
    setText(window, "_NET_WM_NAME", "UTF8_STRING", title);
  }
  void closeApp(const std::string& name) override {
    for (const uint64_t window : desktop_->windowsOf({.bundleId = name})) {
      destroy(window);
    }
  }
  bool settle(const std::function<bool()>& condition = {}) override {
    const bool met = !condition || waitUntil(condition);
    // Every event the server generated so far is now on our socket.
    XSync(connection_->display(), False);
    connection_->dispatchPending();
    for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
    return met || condition();
  }

 private:
  GlibEventLoop loop_;
  DesktopEntryIndex index_;
  Display* client_;
  std::unique_ptr<XConnection> connection_;
  std::unique_ptr<X11Desktop> desktop_;
  std::unique_ptr<X11Workspace> workspace_;
  std::unique_ptr<X11Accessibility> accessibility_;
  std::vector<GPid> children_;
};

TEST(X11DesktopTest, TitlesAreDecodedByTypeReadSafelyAndChangeOncePerRename) {
  // A generous wait for a second name, so the outcome does not depend on speed.
  X11DesktopDriver driver(/*twinWaitSeconds=*/1.0);
  const std::string huge = std::string(100 * 1024, 'x') + std::string("\0end", 4);
  // Property (written over WM_NAME "legacy"; empty: no title at all), type, bytes, title.
  const std::tuple<std::string, std::string, std::string, std::optional<std::string>> cases[] = {
      {"WM_NAME", "STRING", "Caf\xe9", "Caf\xc3\xa9"},  // ISO 8859-1
      {"WM_NAME", "COMPOUND_TEXT", "plain \x1b-A\xe9t\xe9", "plain \xc3\xa9t\xc3\xa9"},
      {"_NET_WM_NAME", "STRING", "na\xc3\xafve", "na\xc3\xafve"},  // still UTF-8
      {"_NET_WM_NAME", "UTF8_STRING", huge, huge},                 // read whole, NUL included
      {"", "", "", std::nullopt},
  };
  for (const auto& [property, type, bytes, title] : cases) {
    const Window window =
        driver.create("titles\0Titles\0"s, std::nullopt,
                      property.empty() ? std::nullopt : std::optional<std::string>("legacy"));
    if (!property.empty()) driver.setText(window, property.c_str(), type.c_str(), bytes);
    EXPECT_EQ(driver.accessibility().titleOf(window), title) << property << " " << type;
  }

  // A window that vanishes mid-query (BadWindow) is skipped, never fatal.
  const uint64_t window = driver.openWindow("vanishing", "here");
  const RunningApp app{.bundleId = "vanishing", .pid = getpid(), .window = window};
  // Gone on the server; the window manager's update has not been read yet.
  driver.destroy(window);

  EXPECT_EQ(driver.accessibility().titleOf(window), std::nullopt);
  EXPECT_EQ(driver.accessibility().createObserver(app, [](ElementRef, std::string_view) {}),
            nullptr);
  EXPECT_TRUE(driver.desktop().reader().identityFacts(window).gone);
  EXPECT_FALSE(driver.connection().lost());

  // A dialog whose parent vanished is named by its own properties.
  const Window parent = driver.create("p\0Parent\0"s, "parent");
  const Window dialog = driver.create("d\0Dialog\0"s, "dialog", std::nullopt, parent);
  driver.destroy(parent);
  const WindowIdentityFacts facts = driver.desktop().reader().identityFacts(dialog);
  EXPECT_FALSE(facts.gone);
  EXPECT_EQ(facts.facts.wmClassClass, "Dialog");

  // Clients that write only WM_NAME, or WM_NAME and later _NET_WM_NAME: one
  // change per rename.
  const Window legacy = driver.create("legacy\0Legacy\0"s, std::nullopt, "unused");
  driver.focus(legacy);
  const auto front = driver.workspace().frontmostApplication();
  ASSERT_TRUE(front);
  std::vector<ElementRef> changes;
  auto observer =
      driver.accessibility().createObserver(*front, [&](ElementRef element, std::string_view name) {
        if (name == kTitleChanged) changes.push_back(element);
      });
  ASSERT_NE(observer, nullptr);

  // A client that only knows WM_NAME: reported once the wait for a twin is over.
  driver.setText(legacy, "WM_NAME", "STRING", "old style");
  ASSERT_TRUE(driver.settle([&] { return changes.size() == 1; }));
  EXPECT_EQ(driver.accessibility().titleOf(legacy), "old style");
  // WM_NAME, and _NET_WM_NAME for the first time only after this side has
  // already seen the WM_NAME change: still one change.
  driver.setText(legacy, "WM_NAME", "STRING", "both");
  driver.settle();
  driver.setText(legacy, "_NET_WM_NAME", "UTF8_STRING", "both");
  ASSERT_TRUE(driver.settle([&] { return changes.size() >= 2; }));
  EXPECT_FALSE(waitUntil([&] { return changes.size() > 2; }, 1500ms));
}

TEST(X11DesktopTest, ApplicationsGroupWindowsAndDialogsAndEndWithTheirProcess) {
  X11DesktopDriver driver;
  const uint64_t editor = driver.openWindow("order-editor", "editor");
  const uint64_t palette = driver.openWindow("order-palette", "palette");
  driver.setItems(palette, "_NET_WM_WINDOW_TYPE", XA_ATOM,
                  {static_cast<long>(driver.connection().atom("_NET_WM_WINDOW_TYPE_UTILITY"))});
  driver.openWindow("order-editor", "editor 2");
  // A dialog belongs to its parent's application, whatever its own class.
  const Window dialog = driver.create("dlg\0Else\0"s, "dialog", std::nullopt, editor);
  driver.focus(editor);
  WorkspaceRecorder recorder(driver.workspace());
  driver.focus(dialog);
  const auto front = driver.workspace().frontmostApplication();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->bundleId, "order-editor");
  EXPECT_EQ(front->window, dialog);
  EXPECT_EQ(driver.accessibility().focusedWindowTitle(*front), "dialog");
  EXPECT_TRUE(recorder.activated.empty()) << "a dialog of the front application is no switch";

  const std::vector<RunningApp> ours = driver.ours();
  ASSERT_EQ(ours.size(), 2u);
  EXPECT_EQ(ours[0].bundleId, "order-editor");
  EXPECT_EQ(ours[0].activationPolicy, ActivationPolicy::kRegular);
  EXPECT_EQ(ours[1].bundleId, "order-palette");
  EXPECT_EQ(ours[1].activationPolicy, ActivationPolicy::kAccessory);
  ASSERT_TRUE(driver.desktop().activate(ours[1]));
  EXPECT_TRUE(waitUntil([&] { return driver.desktop().activeWindow() == palette; }));

  // An application of another process ends when the process exits.
  GPid child = 0;
  const char* argv[] = {"xterm", "-class", "PilvoProbeTerm", "-e", "sleep", "60", nullptr};
  ASSERT_TRUE(g_spawn_async(nullptr, const_cast<char**>(argv), nullptr,
                            GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr,
                            nullptr, &child, nullptr));
  // Named by its class, with the process id of the client that made its window.
  const RunningApp term{.bundleId = "PilvoProbeTerm", .pid = child};
  ASSERT_TRUE(waitUntil([&] { return !driver.desktop().windowsOf(term).empty(); }))
      << "xterm did not show up";
  kill(child, SIGKILL);
  // Both the pidfd and the client list see the end; it is reported once.
  ASSERT_TRUE(waitUntil(
      [&] { return !recorder.terminated.empty() && driver.desktop().windowsOf(term).empty(); }));
  driver.settle();
  ASSERT_EQ(recorder.terminated.size(), 1u);
  EXPECT_TRUE(recorder.terminated[0].sameApplication(term));
  waitpid(child, nullptr, 0);
}

TEST(X11DesktopTest, EventsReadByARoundTripOutsideDispatchAreNotLeftBehind) {
  X11DesktopDriver driver;
  const uint64_t first = driver.openWindow("queue-a", "first");
  const uint64_t second = driver.openWindow("queue-b", "second");
  driver.focus(first);
  // The window manager switches while this side is busy elsewhere; queries made
  // outside event dispatch (from a timer, say) read its notifications along
  // with their replies.
  ASSERT_TRUE(run("xdotool windowactivate " + std::to_string(second)));
  const auto switched = [&] {
    return std::ranges::count(driver.rootItems("_NET_ACTIVE_WINDOW"), second);
  };
  ASSERT_TRUE(waitUntil(switched, 5s, /*turnLoop=*/false));
  // They must still be dispatched, without waiting for some later event.
  EXPECT_TRUE(waitUntil([&] { return driver.desktop().activeWindow() == second; }));
}

// A window that closes just as the agent stops: the requests queued for it on
// the way out fail with BadWindow, which must not end the process (Xlib's
// default error handler would exit with status 1 once the connection is gone).
TEST(X11PlatformTest, AWindowClosingAsTheConnectionCloses) {
  X11DesktopDriver driver;
  const uint64_t window = driver.openWindow("closing", "closing");
  const pid_t child = fork();
  if (child == 0) {
    GlibEventLoop loop;
    std::string error;
    auto connection = XConnection::open(loop, "", &error);
    if (!connection) _exit(3);
    XSelectInput(connection->display(), window, PropertyChangeMask);
    XSync(connection->display(), False);
    Display* other = XOpenDisplay(nullptr);  // not the parent's connection
    XDestroyWindow(other, window);
    XCloseDisplay(other);
    XSelectInput(connection->display(), window, NoEventMask);  // queued, not yet sent
    connection.reset();
    _exit(0);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Seconds since the server last saw input, read on the test's own connection.
double serverIdle() {
  Display* display = XOpenDisplay(nullptr);
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  const bool ok =
      display && info && XScreenSaverQueryInfo(display, DefaultRootWindow(display), info);
  const double seconds = ok ? static_cast<double>(info->idle) / 1000.0 : -1;
  XFree(info);
  if (display) XCloseDisplay(display);
  return seconds;
}

TEST(X11InputIdlenessTest, OnlyKeysPointerMotionAndLeftClicksCountAsInput) {
  X11DesktopDriver driver;
  double now = 1000;
  X11InputIdleness idleness(driver.connection(), [&] { return now; });
  ASSERT_TRUE(idleness.available()) << idleness.problem();
  // Where the ages start: the server's idle time at creation.
  const double before = idleness.secondsSinceLastEvent(InputKind::kKeyDown);
  now = 1100;
  // Runs xdotool, waits until its raw event has been read, and gives the ages
  // of key, motion and left-button input.
  using Ages = std::vector<double>;
  const auto input = [&](const std::string& args) {
    const uint64_t seen = idleness.rawEventsSeen();
    EXPECT_TRUE(run("xdotool " + args));
    EXPECT_TRUE(driver.settle([&] { return idleness.rawEventsSeen() > seen; }));
    return Ages{idleness.secondsSinceLastEvent(InputKind::kKeyDown),
                idleness.secondsSinceLastEvent(InputKind::kMouseMoved),
                idleness.secondsSinceLastEvent(InputKind::kLeftMouseDown)};
  };
  using ::testing::DoubleNear;
  using ::testing::Pointwise;
  // Scrolling (buttons 4/5, maybe with emulated scroll valuators), another
  // button (3 would open openbox's root menu) and a modifier alone.
  for (const char* args : {"click 4", "click 5", "click 8", "key Shift_L"}) {
    EXPECT_THAT(input(args), Pointwise(DoubleNear(1e-6), Ages(3, 100 + before))) << args;
  }
  now = 1200;  // XTest motion (absolute moves warp)
  EXPECT_THAT(input("mousemove_relative -- -7 5"),
              Pointwise(DoubleNear(1e-6), Ages{200 + before, 0, 200 + before}));
  now = 1210;
  EXPECT_THAT(input("click 1"), Pointwise(DoubleNear(1e-6), Ages{210 + before, 10, 0}));
  now = 1220;
  EXPECT_EQ(input("key a"), (Ages{0, 20, 10}));

  // Before a sleep: what was seen no longer counts, until new input.
  idleness.forgetInputSoFar();
  EXPECT_EQ(idleness.secondsSinceLastEvent(InputKind::kKeyDown),
            std::numeric_limits<double>::infinity());
  now = 1230;
  EXPECT_EQ(input("key b")[0], 0);
}

TEST(X11InputIdlenessTest, TimeWithoutInputBeforeTheStartCounts) {
  X11DesktopDriver driver;
  ASSERT_TRUE(run("xdotool mousemove_relative -- 3 3"));
  // Xvfb keeps the server's idle counter; give it a second without input.
  ASSERT_TRUE(waitUntil([] { return serverIdle() >= 1.0; }, 10s)) << serverIdle();
  const double atLeast = serverIdle();
  double now = 5000;
  X11InputIdleness idleness(driver.connection(), [&] { return now; });
  const double atMost = serverIdle();
  ASSERT_TRUE(idleness.available()) << idleness.problem();
  for (InputKind kind : {InputKind::kKeyDown, InputKind::kMouseMoved, InputKind::kLeftMouseDown}) {
    EXPECT_GE(idleness.secondsSinceLastEvent(kind), atLeast - 1e-6);
    EXPECT_LE(idleness.secondsSinceLastEvent(kind), atMost + 1e-6);
  }
  now = 5010;
  EXPECT_GE(idleness.secondsSinceLastEvent(InputKind::kKeyDown), atLeast + 10 - 1e-6);
}

TEST(X11PlatformTest, LostDisplayIsReportedOnceWithoutBusyLoopAndMissingOneExplained) {
  X11DesktopDriver driver;  // something in front, so that "nothing after the loss" means something
  driver.focus(driver.openWindow("lost-front", "front"));
  GlibEventLoop loop;
  std::string error;
  auto platform = X11Platform::open(loop, &error);
  ASSERT_NE(platform, nullptr) << error;
  ASSERT_TRUE(platform->workspace().frontmostApplication());
  int lost = 0;
  platform->setDisplayLostHandler([&] { ++lost; });
  // The server closes the platform's connection, as when it goes away.
  Display* display = platform->connection().display();
  const Pixmap resource = XCreatePixmap(display, DefaultRootWindow(display), 1, 1, 1);
  XSync(display, False);
  XKillClient(driver.connection().display(), resource);
  XSync(driver.connection().display(), False);

  ASSERT_TRUE(waitUntil([&] { return lost > 0; }));
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

  // A display that cannot be opened says what to do.
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
