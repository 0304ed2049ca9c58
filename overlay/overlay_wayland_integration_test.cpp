// The nudge windows as layer surfaces in a real wlroots compositor (headless
// sway from scripts/with-sway-session.sh): where the panel lands for its layer
// margins, that the focused window keeps focus, the dim's 75 % pixels in a
// grim screenshot, and clicks that pass through. Skips where sway is missing.
#include <gtest/gtest.h>
#include <gtk-layer-shell.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <fstream>

#include "common/glib_event_loop.h"
#include "overlay/gtk_overlay_platform.h"
#include "testing/sway_session.h"
#include "testing/temp_dir.h"
#include "testing/virtual_pointer.h"
#include "testing/wait.h"

namespace pilvo::overlay {
namespace {

using pilvo::testing::pumpUntil;
using pilvo::testing::screenshot;
using pilvo::testing::shellOutput;
using pilvo::testing::shellStatus;
using pilvo::testing::Shot;

// A plain grey application window that counts the clicks it receives.
class ClickTarget {
 public:
  ClickTarget() : window_(gtk_window_new(GTK_WINDOW_TOPLEVEL)) {
    gtk_window_set_title(GTK_WINDOW(window_), "click target");
    gtk_widget_set_app_paintable(window_, TRUE);
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(window_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer) {
                       cairo_set_source_rgb(cr, 200 / 255.0, 200 / 255.0, 200 / 255.0);
                       cairo_paint(cr);
                       return TRUE;
                     }),
                     nullptr);
    g_signal_connect(window_, "button-press-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer clicks) {
                       ++*static_cast<int*>(clicks);
                       return TRUE;
                     }),
                     &clicks_);
    gtk_widget_show_all(window_);
  }
  ~ClickTarget() { gtk_widget_destroy(window_); }
  int clicks() const { return clicks_; }

 private:
  GtkWidget* window_;
  int clicks_ = 0;
};

class OverlayWaylandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = pilvo::testing::swaySessionMissing(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "GTK cannot reach the compositor";
    ASSERT_TRUE(GtkOverlayPlatform::layerShell()) << "sway offers layer shell";
    platform_ = std::make_unique<GtkOverlayPlatform>(loop_);
    const std::optional<Screen> screen = platform_->mainScreen();
    ASSERT_TRUE(screen);
    screen_ = *screen;
  }

  // Runs the loop for a few frames so that the compositor shows the last change.
  void settle() {
    int rounds = 0;
    pumpUntil([&] { return ++rounds > 30; });
  }
  // Clicks at (x, y) of the screen (top-left coordinates).
  void click(int x, int y) {
    static pilvo::testing::VirtualPointer pointer;  // one for the whole session
    ASSERT_TRUE(pointer.ok()) << "sway offers no virtual pointer";
    pointer.moveTo(x, y, int(screen_.frame.width), int(screen_.frame.height));
    settle();
    pointer.clickLeft();
  }
  // The layer surfaces of this process on `layer`.
  static GtkWindow* layerWindow(GtkLayerShellLayer layer) {
    GtkWindow* found = nullptr;
    GList* all = gtk_window_list_toplevels();
    for (GList* it = all; it; it = it->next) {
      GtkWindow* window = GTK_WINDOW(it->data);
      if (gtk_layer_is_layer_window(window) && gtk_layer_get_layer(window) == layer &&
          gtk_widget_get_visible(GTK_WIDGET(window))) {
        found = window;
      }
    }
    g_list_free(all);
    return found;
  }

  pilvo::testing::TempDir dir_;
  GlibEventLoop loop_;
  std::unique_ptr<GtkOverlayPlatform> platform_;
  Screen screen_;
};

bool isRed(const std::array<int, 3>& c) { return c[0] > 200 && c[1] < 60 && c[2] < 60; }

TEST_F(OverlayWaylandTest, PanelSitsAtItsMarginsSlidesInFromOneColumnAndLeavesFocusAlone) {
  pilvo::testing::FootWindow foot(dir_.path(), "org.pilvo.FocusProbe", "probe");
  ASSERT_TRUE(foot.waitShown()) << "foot did not appear";
  ASSERT_TRUE(
      pumpUntil([] { return pilvo::testing::swayFocusedAppId() == "org.pilvo.FocusProbe"; }));

  const std::string page = dir_.path() + "/red.html";
  std::ofstream(page) << "<html><body style='margin:0;background:#ff0000'></body></html>";
  std::unique_ptr<PanelWindow> panel = platform_->createPanelWindow({0, 0, 300, 200});
  bool loaded = false;
  panel->setWebEvents({[&] { loaded = true; }, nullptr, nullptr});
  panel->loadPage(page);
  ASSERT_TRUE(pumpUntil([&] { return loaded; }, 20)) << "the page did not load";

  // Bottom-left frame: 20 px from the right edge, 40 px from the top.
  const double width = screen_.frame.width, height = screen_.frame.height;
  const Rect frame{width - 320, height - 240, 300, 200};
  panel->setFrame(frame);
  panel->setIgnoresMouseEvents(false);
  panel->setAlpha(1.0);
  panel->orderFront();
  GtkWindow* layer = nullptr;
  ASSERT_TRUE(pumpUntil([&] { return (layer = layerWindow(GTK_LAYER_SHELL_LAYER_OVERLAY)); }));
  EXPECT_EQ(gtk_layer_get_margin(layer, GTK_LAYER_SHELL_EDGE_RIGHT), 20);
  EXPECT_EQ(gtk_layer_get_margin(layer, GTK_LAYER_SHELL_EDGE_TOP), 40);
  EXPECT_EQ(gtk_layer_get_keyboard_mode(layer), GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
  Shot shot;
  ASSERT_TRUE(pumpUntil(
      [&] {
        shot = screenshot();
        return isRed(shot.at(int(width) - 170, 140));
      },
      10))
      << "the panel never showed at its margins";
  EXPECT_TRUE(isRed(shot.at(int(width) - 320, 40)));    // top left corner
  EXPECT_TRUE(isRed(shot.at(int(width) - 21, 239)));    // bottom right corner
  EXPECT_FALSE(isRed(shot.at(int(width) - 19, 140)));   // right of it
  EXPECT_FALSE(isRed(shot.at(int(width) - 170, 241)));  // below it
  EXPECT_EQ(frame, panel->frame());
  EXPECT_EQ(pilvo::testing::swayFocusedAppId(), "org.pilvo.FocusProbe");

  // Wholly right of the screen it still keeps one column on it (sway draws no
  // surface that begins off screen); the frame stays where it was asked to be.
  panel->orderOut();
  const Rect outside{width + 10, frame.y, 300, 200};
  panel->setFrame(outside);
  panel->orderFront();
  ASSERT_TRUE(pumpUntil([&] { return (layer = layerWindow(GTK_LAYER_SHELL_LAYER_OVERLAY)); }));
  EXPECT_EQ(gtk_layer_get_margin(layer, GTK_LAYER_SHELL_EDGE_RIGHT), -299);
  EXPECT_EQ(panel->frame(), outside);
  ASSERT_TRUE(pumpUntil([&] { return isRed(screenshot().at(int(width) - 1, 140)); }, 10));
  EXPECT_FALSE(isRed(screenshot().at(int(width) - 2, 140)));

  bool arrived = false;
  panel->animateOrigin(frame.origin(), 0.3, Curve::kEaseOut, [&] { arrived = true; });
  ASSERT_TRUE(pumpUntil([&] { return arrived; }));
  EXPECT_EQ(gtk_layer_get_margin(layer, GTK_LAYER_SHELL_EDGE_RIGHT), 20);
  EXPECT_TRUE(pumpUntil([&] { return isRed(screenshot().at(int(width) - 170, 140)); }));
  EXPECT_EQ(pilvo::testing::swayFocusedAppId(), "org.pilvo.FocusProbe");
}

TEST_F(OverlayWaylandTest, DimDarkensToThreeQuartersAndClicksPassThroughAfterResizes) {
  ClickTarget target;
  Shot shot;
  ASSERT_TRUE(pumpUntil(
      [&] {
        shot = screenshot();
        return shot.at(640, 360)[0] == 200;
      },
      10))
      << "the grey window did not show";

  std::unique_ptr<DimWindow> dim = platform_->createDimWindow(screen_.frame);
  dim->orderFront();
  bool dimmed = false;
  dim->animateAlpha(1.0, 0.2, Curve::kEaseOut, [&] { dimmed = true; });
  ASSERT_TRUE(pumpUntil([&] { return dimmed; }));
  ASSERT_TRUE(layerWindow(GTK_LAYER_SHELL_LAYER_TOP));
  ASSERT_TRUE(pumpUntil(
      [&] {
        shot = screenshot();
        return std::abs(shot.at(640, 360)[0] - 150) <= 2;
      },
      10))
      << "grey 200 under the dim reads " << shot.at(640, 360)[0] << ", not 150";
  EXPECT_LE(std::abs(shot.at(5, 5)[1] - 150), 2);

  // A dim shown again and resized still lets clicks through.
  dim->orderOut();
  settle();
  dim->setFrame({0, 0, screen_.frame.width - 100, screen_.frame.height - 100});
  dim->orderFront();
  settle();
  dim->setFrame(screen_.frame);
  settle();
  ASSERT_TRUE(pumpUntil([&] { return std::abs(screenshot().at(640, 360)[0] - 150) <= 2; }, 10));
  click(640, 360);
  EXPECT_TRUE(pumpUntil([&] { return target.clicks() == 1; })) << "the dim took the click";

  // A panel takes clicks while it wants them, then lets them through, also
  // after a resize.
  std::unique_ptr<PanelWindow> panel =
      platform_->createPanelWindow({540, screen_.frame.height - 460, 200, 200});
  panel->setIgnoresMouseEvents(false);
  panel->orderFront();
  ASSERT_TRUE(pumpUntil([&] { return layerWindow(GTK_LAYER_SHELL_LAYER_OVERLAY) != nullptr; }));
  settle();
  click(640, 360);
  settle();
  EXPECT_EQ(target.clicks(), 1) << "a click on the panel reached the window below";
  panel->setIgnoresMouseEvents(true);
  panel->setFrame({520, screen_.frame.height - 480, 240, 240});
  settle();
  click(640, 360);
  EXPECT_TRUE(pumpUntil([&] { return target.clicks() == 2; })) << "the panel took the click";
}

// Last in this file: the second output stays for the rest of the session.
TEST_F(OverlayWaylandTest, MainScreenIsTheOutputOfTheFocusedWindow) {
  ASSERT_EQ(shellStatus("swaymsg create_output"), 0);
  ASSERT_EQ(shellStatus("swaymsg output HEADLESS-2 resolution 640x480 position 1280 0"), 0);
  ASSERT_TRUE(pumpUntil([] { return gdk_display_get_n_monitors(gdk_display_get_default()) == 2; }));

  ASSERT_EQ(shellStatus("swaymsg focus output HEADLESS-1"), 0);
  pilvo::testing::FootWindow left(dir_.path(), "org.pilvo.Left", "left");
  ASSERT_TRUE(left.waitShown());
  ASSERT_EQ(shellStatus("swaymsg focus output HEADLESS-2"), 0);
  pilvo::testing::FootWindow right(dir_.path(), "org.pilvo.Right", "right");
  ASSERT_TRUE(right.waitShown());
  ASSERT_TRUE(pumpUntil([] { return pilvo::testing::swayFocusedAppId() == "org.pilvo.Right"; }));

  // Bottom-left coordinates: the space is 720 high, the small output's top is at 0.
  const Rect small{1280, 240, 640, 480};
  std::optional<Screen> screen;
  EXPECT_TRUE(pumpUntil([&] {
    return (screen = platform_->mainScreen()) && screen->frame == small;
  })) << "main screen x "
      << (screen ? screen->frame.x : -1);
  ASSERT_TRUE(left.focus());
  EXPECT_TRUE(pumpUntil([&] {
    return (screen = platform_->mainScreen()) && screen->frame == screen_.frame;
  })) << "main screen x "
      << (screen ? screen->frame.x : -1);
}

}  // namespace
}  // namespace pilvo::overlay
