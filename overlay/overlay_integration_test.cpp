// The overlay channel on the real GTK + WebKitGTK platform in an X session
// (Xvfb + openbox): the page loads from the resources, messages reach its DOM,
// a click on an answer button reaches a `pilvoctl listen` client, the user's
// window keeps the focus and receives clicks on the dimmed area. With
// PILVO_TEST_COMPOSITOR=1 a picom compositor runs and a screenshot shows the
// dimming and the avatar. Every wait is bounded.
// gtest before Xlib, whose macros (None, Success) clash with its names.
#include <gtest/gtest.h>
// clang-format off
#include <gtk/gtk.h>
#include <gdk/gdkx.h>
#include <X11/Xatom.h>
// clang-format on
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "common/glib_event_loop.h"
#include "overlay/focus_overlay_plugin.h"
#include "overlay/gtk_overlay_platform.h"
#include "testing/temp_dir.h"
#include "testing/wait.h"
#include "testing/test_environment.h"

namespace pilvo::overlay {
namespace {

using Json = nlohmann::json;

const std::string kBuildDir = testing::buildDir();
const bool kWithCompositor = testing::envOr("PILVO_TEST_COMPOSITOR", "0") == "1";

// Runs the GTK main loop until `done` holds or `seconds` pass.
using testing::pumpUntil;
void pumpFor(double seconds) {
  pumpUntil([] { return false; }, seconds);
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& output) {
  const pid_t pid = fork();
  if (pid == 0) {
    FILE* out = std::freopen(output.c_str(), "w", stdout);
    (void)out;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

unsigned long activeWindow() {
  GdkDisplay* display = gdk_display_get_default();
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  unsigned long window = 0;
  if (XGetWindowProperty(x, DefaultRootWindow(x), XInternAtom(x, "_NET_ACTIVE_WINDOW", False), 0, 1,
                         False, XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
      data && count == 1) {
    window = reinterpret_cast<unsigned long*>(data)[0];
  }
  if (data) XFree(data);
  return window;
}

// Records the panel window the plugin creates, so the test can ask the page.
class RecordingPlatform final : public OverlayPlatform {
 public:
  explicit RecordingPlatform(EventLoop& loop) : real_(loop) {}
  std::optional<Screen> mainScreen() override { return real_.mainScreen(); }
  std::unique_ptr<PanelWindow> createPanelWindow(Rect frame) override {
    auto window = real_.createPanelWindow(frame);
    panel = window.get();
    return window;
  }
  std::unique_ptr<DimWindow> createDimWindow(Rect frame) override {
    auto window = real_.createDimWindow(frame);
    dim = window.get();
    return window;
  }
  std::optional<std::string> resourcePath(const std::string& name) override {
    return real_.resourcePath(name);
  }
  PanelWindow* panel = nullptr;
  DimWindow* dim = nullptr;

 private:
  GtkOverlayPlatform real_;
};

class OverlayIntegrationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (kWithCompositor) {
      picom_ = spawn({"picom", "--backend", "xrender", "--config", "/dev/null"}, "/dev/null");
      ASSERT_TRUE(pumpUntil([] { return gdk_screen_is_composited(gdk_screen_get_default()); }, 10))
          << "picom did not start compositing";
    }
  }
  static void TearDownTestSuite() {
    if (picom_ > 0) {
      kill(picom_, SIGTERM);
      waitpid(picom_, nullptr, 0);
    }
  }

  void SetUp() override {
    socket_ = dir_.path() + "/bridge.sock";
    ASSERT_EQ(engine_.startBridge(socket_), "");
    FocusOverlayPlugin::registerWith(
        engine_.registrarForPlugin("TavikPlugins"), platform_,
        [this](host::HostLogLevel, std::string_view line) { log_.emplace_back(line); });
    // The user's window: a big patterned window that counts clicks.
    user_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(user_), "user window");
    gtk_window_set_default_size(GTK_WINDOW(user_), 1400, 900);
    gtk_window_move(GTK_WINDOW(user_), 100, 60);
    gtk_widget_add_events(user_, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(user_, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer) {
                       const int width = gtk_widget_get_allocated_width(w);
                       cairo_pattern_t* p = cairo_pattern_create_linear(0, 0, width, 0);
                       cairo_pattern_add_color_stop_rgb(p, 0, 0.9, 0.5, 0.2);
                       cairo_pattern_add_color_stop_rgb(p, 1, 0.2, 0.6, 0.95);
                       cairo_set_source(cr, p);
                       cairo_paint(cr);
                       cairo_pattern_destroy(p);
                       return TRUE;
                     }),
                     nullptr);
    g_signal_connect(user_, "button-press-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer clicks) {
                       ++*static_cast<int*>(clicks);
                       return TRUE;
                     }),
                     &clicks_);
    gtk_widget_show_all(user_);
    gtk_window_present(GTK_WINDOW(user_));
    userXid_ = GDK_WINDOW_XID(gtk_widget_get_window(user_));
    ASSERT_TRUE(pumpUntil([&] { return activeWindow() == userXid_; }, 10));
    ASSERT_TRUE(pumpUntil([&] { return has("Tavik: korima_overlay.html loaded"); }, 30))
        << "the page did not load";
  }
  void TearDown() override {
    for (pid_t pid : children_) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    gtk_widget_destroy(user_);
  }

  bool has(const std::string& line) const {
    return std::find(log_.begin(), log_.end(), line) != log_.end();
  }
  // pilvoctl against this test's bridge, pumping the loop until it exits.
  std::string pilvoctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{kBuildDir + "/channels/pilvoctl", "--socket", socket_};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string out = dir_.path() + "/call.out";
    const pid_t pid = spawn(argv, out);
    int status = 0;
    EXPECT_TRUE(pumpUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10));
    return readFile(out);
  }
  // The value of a script on the page, as JSON.
  Json evaluate(const std::string& script) {
    std::optional<PanelWindow::ScriptResult> result;
    platform_.panel->evaluateScript(script,
                                    [&](const PanelWindow::ScriptResult& r) { result = r; });
    EXPECT_TRUE(pumpUntil([&] { return result.has_value(); }, 10));
    if (!result || result->error || result->json.empty()) return Json();
    return Json::parse(result->json);
  }
  // Screen point (top-left origin) of a page element's centre.
  std::pair<int, int> onScreen(const std::string& selector) {
    const Json r = evaluate("(() => { const r = document.querySelector('" + selector +
                            "').getBoundingClientRect(); return {x: r.x + r.width / 2, y: r.y + "
                            "r.height / 2}; })()");
    const Rect frame = platform_.panel->frame();
    const int screenHeight = gdk_window_get_height(gdk_get_default_root_window());
    const int top = screenHeight - int(frame.y + frame.height);
    return {int(frame.x + r["x"].get<double>()), top + int(r["y"].get<double>())};
  }
  void click(int x, int y) {
    ASSERT_TRUE(
        run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1"));
  }

  testing::TempDir dir_;
  GlibEventLoop loop_;
  channels::FlutterEngine engine_{loop_, [](const std::string&) {}};
  RecordingPlatform platform_{loop_};
  std::vector<std::string> log_;
  std::string socket_;
  GtkWidget* user_ = nullptr;
  unsigned long userXid_ = 0;
  int clicks_ = 0;
  std::vector<pid_t> children_;
  static inline pid_t picom_ = 0;
};

TEST_F(OverlayIntegrationTest, AnAnsweredNudgeReachesTheInterfaceAndFocusStaysWithTheUser) {
  const std::string listened = dir_.path() + "/listen.out";
  children_.push_back(spawn({kBuildDir + "/channels/pilvoctl", "--socket", socket_, "--count", "1",
                             "listen", "com.tavik/overlay"},
                            listened));
  size_t clients = 0;
  engine_.bridge()->setClientCountHandler([&](size_t count) { clients = count; });
  ASSERT_TRUE(pumpUntil([&] { return clients == 1; }, 10)) << "pilvoctl listen did not connect";

  EXPECT_EQ(pilvoctl({"call", "com.tavik/overlay", "showOverlay",
                      R"({"message":"Time to refocus?\r\nIt's been a while","showButtons":true,)"
                      R"("durationSeconds":30})"}),
            "null\n");
  ASSERT_TRUE(pumpUntil([&] { return platform_.panel->frame().x == 1920 - 280; }, 5));
  pumpFor(0.3);
  EXPECT_EQ(evaluate("document.getElementById('message').textContent"),
            "Time to refocus?\r\nIt's been a while");
  EXPECT_EQ(evaluate("document.body.dataset.state"), "nagging");
  EXPECT_EQ(evaluate("document.querySelectorAll('#answers button').length"), 3);
  EXPECT_EQ(activeWindow(), userXid_);

  // A click on the dimmed screen reaches the window below.
  click(400, 500);
  EXPECT_TRUE(pumpUntil([&] { return clicks_ == 1; }, 5));
  EXPECT_EQ(activeWindow(), userXid_);

  const auto [x, y] = onScreen("#answers button[data-answer=\"focus\"]");
  click(x, y);
  ASSERT_TRUE(
      pumpUntil([&] { return readFile(listened).find("nudgeResponse") != std::string::npos; }, 10))
      << readFile(listened);
  EXPECT_EQ(Json::parse(readFile(listened)), (Json{{"channel", "com.tavik/overlay"},
                                                   {"method", "nudgeResponse"},
                                                   {"arguments", "focus"}}));
  EXPECT_TRUE(has("Tavik: Nudge response \u2014 focus"));
  EXPECT_TRUE(pumpUntil([&] { return has("Tavik: Overlay hidden"); }, 5));
  EXPECT_FALSE(platform_.panel->isVisible());
  // Off screen the page counts as hidden, which pauses its animations.
  EXPECT_TRUE(pumpUntil([&] { return evaluate("document.hidden") == true; }, 5));
  EXPECT_EQ(evaluate("document.body.classList.contains('paused')"), true);
  EXPECT_EQ(clicks_, 1);
  EXPECT_EQ(activeWindow(), userXid_);
}

// Pixels of the root window as RGB.
struct Shot {
  int width = 0, height = 0, stride = 0, channels = 0;
  std::vector<guchar> pixels;
  const guchar* at(int x, int y) const {
    return &pixels[size_t(y) * stride + size_t(x) * channels];
  }
};
Shot screenshot() {
  GdkWindow* root = gdk_get_default_root_window();
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root),
                                                 gdk_window_get_height(root));
  Shot shot{gdk_pixbuf_get_width(pixbuf),
            gdk_pixbuf_get_height(pixbuf),
            gdk_pixbuf_get_rowstride(pixbuf),
            gdk_pixbuf_get_n_channels(pixbuf),
            {}};
  const guchar* data = gdk_pixbuf_get_pixels(pixbuf);
  shot.pixels.assign(data, data + size_t(shot.stride) * shot.height);
  g_object_unref(pixbuf);
  return shot;
}

TEST_F(OverlayIntegrationTest, CompositedScreenIsDimmedToThreeQuartersAroundTheAvatar) {
  if (!kWithCompositor) GTEST_SKIP() << "runs with PILVO_TEST_COMPOSITOR=1";
  pumpFor(0.5);
  const Shot before = screenshot();
  pilvoctl({"call", "com.tavik/overlay", "showOverlay",
            R"({"message":"Hello there","avatarState":"calm","durationSeconds":30})"});
  pumpFor(1.5);
  const Shot after = screenshot();
  if (const char* keep = std::getenv("PILVO_OVERLAY_SCREENSHOT")) {
    run(std::string("import -window root ") + keep);
  }
  const Rect frame = platform_.panel->frame();
  const int panelLeft = int(frame.x), panelTop = before.height - int(frame.y + frame.height);
  int wrong = 0, checked = 0, bright = 0;
  for (int y = 0; y < before.height; y += 3) {
    for (int x = 0; x < before.width; x += 3) {
      const bool inPanel =
          x >= panelLeft - 2 && x < panelLeft + 282 && y >= panelTop - 2 && y < panelTop + 502;
      for (int c = 0; c < 3; ++c) {
        const int want = int(std::lround(before.at(x, y)[c] * 0.75));
        const int got = after.at(x, y)[c];
        if (inPanel) {
          bright += c == 0 && got > 230;
        } else {
          ++checked;
          if (std::abs(got - want) > 2 && wrong++ < 5) {
            ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << got
                          << " instead of " << want;
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 100000);
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(bright, 500) << "the panel's area shows no avatar or bubble";

  pilvoctl({"call", "com.tavik/overlay", "hideOverlay"});
  pumpFor(0.8);
  EXPECT_FALSE(platform_.dim->isVisible());
}

}  // namespace
}  // namespace pilvo::overlay

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
