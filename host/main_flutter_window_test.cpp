// The main window on a real X server (Xvfb + openbox): placement, close and
// reopen, the sidebar button, the content. Every wait polls the GTK loop with
// a deadline.
#include "host/main_flutter_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>

#include "testing/wait.h"
#include "testing/fake_accessibility.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_flutter_ui.h"
#include "testing/fake_tracking_platform.h"
#include "testing/temp_dir.h"

// Xlib last: its macros (None, Status) clash with names in the headers above.
#include <X11/Xatom.h>
#include <gdk/gdkx.h>

namespace pilvo::host {

inline void PrintTo(const ScreenRect& r, std::ostream* out) {
  *out << r.x << "," << r.y << " " << r.width << "x" << r.height;
}

namespace {

// Where the window manager shows the window; nullopt until it has mapped and
// placed it. GTK's position (read from the window manager's frame) and the
// server's origin of the window then agree up to the invisible decoration border.
std::optional<ScreenRect> shownPlace(MainFlutterWindow& window) {
  GtkWidget* widget = GTK_WIDGET(window.window());
  GdkWindow* gdkWindow = gtk_widget_get_window(widget);
  if (!gdkWindow || !gtk_widget_get_mapped(widget)) return std::nullopt;
  if (gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_WITHDRAWN) return std::nullopt;
  ScreenRect r;
  gtk_window_get_position(window.window(), &r.x, &r.y);
  gtk_window_get_size(window.window(), &r.width, &r.height);
  int x = 0, y = 0;
  gdk_window_get_origin(gdkWindow, &x, &y);
  if (std::abs(x - r.x) > 32 || std::abs(y - r.y) > 32) return std::nullopt;
  return r;
}

// The header bar's buttons from leading to trailing edge: "sidebar" and the
// title buttons by their style class ("close", "minimize", "maximize").
std::vector<std::string> headerButtons(MainFlutterWindow& window) {
  GtkWidget* bar = gtk_window_get_titlebar(window.window());
  std::vector<std::pair<int, std::string>> found;
  std::function<void(GtkWidget*)> visit = [&](GtkWidget* widget) {
    if (!gtk_widget_get_mapped(widget)) return;
    GtkStyleContext* style = gtk_widget_get_style_context(widget);
    std::string name;
    if (widget == window.sidebarButton()) {
      name = "sidebar";
    } else if (gtk_style_context_has_class(style, "titlebutton")) {
      for (const char* kind : {"close", "minimize", "maximize"}) {
        if (gtk_style_context_has_class(style, kind)) name = kind;
      }
    }
    int x = 0, y = 0;
    if (!name.empty() && gtk_widget_translate_coordinates(widget, bar, 0, 0, &x, &y)) {
      found.emplace_back(x, name);
      return;
    }
    if (GTK_IS_CONTAINER(widget)) {
      gtk_container_forall(
          GTK_CONTAINER(widget),
          [](GtkWidget* child, gpointer visit) {
            (*static_cast<std::function<void(GtkWidget*)>*>(visit))(child);
          },
          &visit);
    }
  };
  visit(bar);
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& [x, name] : found) names.push_back(name);
  return names;
}

// The window's outer rectangle on the server: title bar, content and the
// decorations' border (openbox draws no frame around client-side decorations).
std::optional<ScreenRect> outerPlace(MainFlutterWindow& window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window.window()));
  if (!gdkWindow || !gtk_widget_get_mapped(GTK_WIDGET(window.window()))) return std::nullopt;
  ScreenRect r{0, 0, gdk_window_get_width(gdkWindow), gdk_window_get_height(gdkWindow)};
  gdk_window_get_origin(gdkWindow, &r.x, &r.y);
  return r;
}

using Wanted = std::function<bool(const std::optional<ScreenRect>&)>;
const Wanted kShown = [](const std::optional<ScreenRect>& r) { return r.has_value(); };

// Runs the GTK loop until `wanted` accepts where the window is shown (for at
// most five seconds).
::testing::AssertionResult settles(MainFlutterWindow& window, const Wanted& wanted = kShown) {
  std::optional<ScreenRect> place;
  if (testing::pumpUntil([&] { return wanted(place = shownPlace(window)); }, 5)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "window at " << (place ? ::testing::PrintToString(*place) : "nowhere");
}

class MainFlutterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "no X display";
  }

  // A started-up window, not shown yet.
  std::unique_ptr<MainFlutterWindow> makeWindow() {
    auto window = std::make_unique<MainFlutterWindow>(
        nullptr, engine_, defaults_, [this](HostLogLevel, std::string_view t) { errors_ += t; });
    window->awakeFromNib({&loop_, &platform_, &accessibility_, nullptr});
    return window;
  }
  void closeAndWait(MainFlutterWindow& window) {
    gtk_window_close(window.window());  // delete-event, as from the close button
    ASSERT_TRUE(settles(
        window, [&](auto&) { return !gtk_widget_get_mapped(GTK_WIDGET(window.window())); }));
  }

  testing::TempDir dir_;
  DefaultsStore defaults_{dir_.file("config/pilvo/defaults.ini")};
  testing::FakeEventLoop loop_;
  testing::FakeTrackingPlatform platform_;
  testing::FakeAccessibility accessibility_;
  channels::FlutterEngine engine_{loop_, [](const std::string&) {}};
  std::string errors_;  // a broken style sheet or a failed save shows up here
};

TEST_F(MainFlutterWindowTest, WindowFitsTheWorkAreaFromFirstStartOrAnyStoredFrame) {
  // Nothing stored (the default size), a frame far away and enormous, and
  // one stored on a larger screen.
  for (const std::optional<std::string>& stored :
       {std::optional<std::string>(), encodeFrame({1e308, -1e308, 1e308, 5}),
        encodeFrame({100, 50, 1800, 1000})}) {
    SCOPED_TRACE(stored.value_or("(nothing stored)"));
    if (stored) defaults_.setString(kMainWindowFrameKey, *stored);
    auto window = makeWindow();
    window->present();
    ASSERT_TRUE(settles(*window));
    const ScreenRect a = window->currentWorkarea();
    // The whole window (title bar, bottom edge and any window-manager frame) is on the work area.
    auto fits = [&](const std::optional<ScreenRect>& r) {
      const std::optional<ScreenRect> o = outerPlace(*window);
      return r && o && o->x >= a.x && o->y >= a.y && o->x + o->width <= a.x + a.width &&
             o->y + o->height <= a.y + a.height;
    };
    EXPECT_TRUE(settles(*window, fits)) << "work area " << ::testing::PrintToString(a);
    const std::optional<ScreenRect> outer = outerPlace(*window), place = shownPlace(*window);
    ASSERT_TRUE(outer && place);
    const Decoration room{place->x - outer->x, place->y - outer->y,
                          outer->x + outer->width - place->x - place->width,
                          outer->y + outer->height - place->y - place->height};
    const bool roomy = a.width - room.width() >= kDefaultContentWidth &&
                       a.height - room.height() >= kDefaultContentHeight;
    if (!stored && roomy) {
      EXPECT_TRUE(settles(*window, [&](const std::optional<ScreenRect>& r) {
        return r && r->width == kDefaultContentWidth && r->height == kDefaultContentHeight &&
               std::abs(2 * (r->x - a.x) + r->width - a.width) <= 80 &&
               std::abs(2 * (r->y - a.y) + r->height - a.height) <= 120;
      }));
    }

    // Never smaller than the minimum size, which is the usual one where it
    // fits and what fits where it does not.
    const ContentSize minimum{std::min(kMinWindowWidth, a.width - room.width()),
                              std::min(kMinWindowHeight, a.height - room.height())};
    EXPECT_EQ(window->decorationSize(), room);
    EXPECT_EQ(window->minimumSize(), minimum);
    gtk_window_resize(window->window(), 300, 200);
    EXPECT_TRUE(settles(*window, [&](const std::optional<ScreenRect>& r) {
      return fits(r) && r->width == minimum.width && r->height == minimum.height;
    }));
  }
}

TEST_F(MainFlutterWindowTest, MinimumFollowsTheWorkArea) {
  auto window = makeWindow();
  window->present();
  ASSERT_TRUE(settles(*window));
  const ScreenRect before = window->currentWorkarea();
  const ContentSize usual = window->minimumSize();

  // A panel along the bottom that leaves 600 pixels above it.
  GdkWindow* root = gdk_get_default_root_window();
  const int scale = gdk_window_get_scale_factor(root);
  const long screenHeight = long{gdk_window_get_height(root)} * scale;
  GtkWidget* panel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_type_hint(GTK_WINDOW(panel), GDK_WINDOW_TYPE_HINT_DOCK);
  gtk_window_set_default_size(GTK_WINDOW(panel), 200, 20);
  gtk_widget_realize(panel);
  GdkWindow* panelWindow = gtk_widget_get_window(panel);
  const long strut[12] = {0, 0, 0, screenHeight - 600, 0, 0, 0, 0, 0, 0, 0, 199};
  XChangeProperty(GDK_WINDOW_XDISPLAY(panelWindow), GDK_WINDOW_XID(panelWindow),
                  gdk_x11_get_xatom_by_name("_NET_WM_STRUT_PARTIAL"), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(strut), 12);
  gtk_widget_show(panel);
  const Wanted minimumFitsWorkarea = [&](auto&) {
    const ScreenRect a = window->currentWorkarea();
    return window->minimumSize() == minimumContentSize(a, window->decorationSize());
  };
  EXPECT_TRUE(settles(*window, [&](auto& r) {
    return window->currentWorkarea().height == 600 / scale && minimumFitsWorkarea(r);
  })) << "work area " << ::testing::PrintToString(window->currentWorkarea()) << ", minimum "
      << window->minimumSize().width << "x" << window->minimumSize().height;
  EXPECT_LT(window->minimumSize().height, usual.height);

  gtk_widget_destroy(panel);
  EXPECT_TRUE(settles(*window, [&](auto& r) {
    return window->currentWorkarea() == before && minimumFitsWorkarea(r);
  }));
  EXPECT_EQ(window->minimumSize(), usual);
}

TEST_F(MainFlutterWindowTest, ClosingHidesTheWindowKeepingItsFrame) {
  auto window = makeWindow();
  BridgeState bridge{"/run/user/1000/pilvo/host.sock", 0, ""};
  window->setBridgeState(bridge);
  EXPECT_NE(window->contentText().find("pilvoctl --socket /run/user/1000/pilvo/host.sock call"),
            std::string::npos);
  window->present();
  ASSERT_TRUE(settles(*window));
  // 1200 x 800 at (210, 140), or what of it fits the work area; where
  // exactly is the window manager's choice.
  const ScreenRect area = window->currentWorkarea();
  const Decoration room = window->decorationSize();
  const ContentSize size = fitContentSize({1200, 800}, area, room);
  gtk_window_move(window->window(),
                  area.x + room.left + std::min(210, area.width - room.width() - size.width),
                  area.y + room.top + std::min(140, area.height - room.height() - size.height));
  gtk_window_resize(window->window(), size.width, size.height);
  ASSERT_TRUE(settles(*window, [&](const std::optional<ScreenRect>& r) {
    return r && r->width == size.width && r->height == size.height;
  }));
  const ScreenRect before = *shownPlace(*window);
  const Wanted atBefore = [&](const std::optional<ScreenRect>& r) { return r == before; };
  bridge.clients = 1;
  window->setBridgeState(bridge);
  EXPECT_NE(window->contentText().find("Interface connected"), std::string::npos);

  // Hidden, not destroyed; shown again from memory, even when the stored
  // value changed meanwhile, and with what the bridge reported while hidden.
  closeAndWait(*window);
  defaults_.setString(kMainWindowFrameKey, "not base64");
  bridge.error = "another Pilvo host is already serving /run/user/1000/pilvo/host.sock";
  window->setBridgeState(bridge);
  window->present();
  ASSERT_TRUE(settles(*window, atBefore));
  EXPECT_NE(window->contentText().find("another Pilvo host"), std::string::npos);

  // The next start restores the frame stored on closing.
  closeAndWait(*window);
  window.reset();
  window = makeWindow();
  window->present();
  EXPECT_TRUE(settles(*window, atBefore));
  EXPECT_EQ(errors_, "");
}

TEST_F(MainFlutterWindowTest, SidebarButtonSendsExactlyOneToggle) {
  testing::FakeFlutterUi ui(engine_.binaryMessenger());
  auto window = makeWindow();
  GtkWidget* button = window->sidebarButton();
  ASSERT_NE(button, nullptr);
  EXPECT_STREQ(atk_object_get_name(gtk_widget_get_accessible(button)), "Toggle Sidebar");
  EXPECT_TRUE(GTK_IS_HEADER_BAR(gtk_widget_get_parent(button)));

  gtk_button_clicked(GTK_BUTTON(button));
  loop_.runUntilIdle();
  EXPECT_EQ(ui.callsOn("com.tavik/sidebar"),
            (std::vector<channels::FlutterMethodCall>{{"toggle", channels::Value()}}));
  EXPECT_EQ(ui.received().size(), 1u);
}

TEST_F(MainFlutterWindowTest, TitleButtonsFollowTheDesktopLayout) {
  GtkSettings* settings = gtk_settings_get_default();
  gchar* desktopLayout = nullptr;
  g_object_get(settings, "gtk-decoration-layout", &desktopLayout, nullptr);
  auto window = makeWindow();
  window->present();
  ASSERT_TRUE(settles(*window));
  using Names = std::vector<std::string>;
  const std::pair<const char*, Names> rows[] = {
      {"close,maximize:", {"close", "maximize", "sidebar"}},
      {":minimize,close", {"sidebar", "minimize", "close"}},
      {"close:", {"close", "sidebar"}},
  };
  for (const auto& [layout, expected] : rows) {
    g_object_set(settings, "gtk-decoration-layout", layout, nullptr);
    Names names;
    EXPECT_TRUE(
        settles(*window, [&](auto&) { return (names = headerButtons(*window)) == expected; }))
        << layout << " gives " << ::testing::PrintToString(names);
  }
  g_object_set(settings, "gtk-decoration-layout", desktopLayout, nullptr);
  g_free(desktopLayout);
}

}  // namespace
}  // namespace pilvo::host
