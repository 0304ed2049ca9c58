// The main window on a real X server (Xvfb + openbox): placement, close and
// reopen, the sidebar button. Every wait polls the GTK loop with a deadline.
#include "host/main_flutter_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>

#include "testing/fake_accessibility.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_flutter_ui.h"
#include "testing/fake_tracking_platform.h"
#include "testing/temp_dir.h"

namespace pilvo::host {
namespace {

using channels::Value;

bool pumpUntil(const std::function<bool()>& done, double seconds = 5) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    if (done()) return true;
    g_usleep(10 * 1000);
  }
  return done();
}

ScreenRect placeOf(GtkWindow* window) {
  ScreenRect r;
  gtk_window_get_position(window, &r.x, &r.y);
  gtk_window_get_size(window, &r.width, &r.height);
  return r;
}

// Where the window manager really has the window: GTK's position (read from
// the window manager's frame) and the server's origin of the window, which
// agree once the window manager has placed it.
std::optional<ScreenRect> settledPlaceOf(GtkWindow* window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
  if (!gdkWindow || !gtk_widget_get_mapped(GTK_WIDGET(window)) ||
      (gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_WITHDRAWN)) {
    return std::nullopt;
  }
  const ScreenRect place = placeOf(window);
  int x = 0, y = 0;
  gdk_window_get_origin(gdkWindow, &x, &y);
  // They differ by the invisible resize border of client-side decorations.
  if (std::abs(x - place.x) > 32 || std::abs(y - place.y) > 32) return std::nullopt;
  return place;
}

class MainFlutterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "no X display";
  }

  std::unique_ptr<MainFlutterWindow> makeWindow() {
    auto window = std::make_unique<MainFlutterWindow>(
        nullptr, engine_, defaults_,
        [this](HostLogLevel, std::string_view t) { logLines_.emplace_back(t); });
    return window;
  }
  HostServices services() { return {&loop_, &platform_, &accessibility_, nullptr}; }

  // Mapped by the window manager, not only asked to be.
  bool mapped(MainFlutterWindow& window) {
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window.window()));
    return gtk_widget_get_mapped(GTK_WIDGET(window.window())) && gdkWindow &&
           !(gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_WITHDRAWN);
  }

  testing::TempDir dir_;
  DefaultsStore defaults_{dir_.file("config/pilvo/defaults.ini")};
  testing::FakeEventLoop loop_;
  testing::FakeTrackingPlatform platform_;
  testing::FakeAccessibility accessibility_;
  channels::FlutterEngine engine_{loop_, [](const std::string&) {}};
  std::vector<std::string> logLines_;
};

TEST_F(MainFlutterWindowTest, FirstLaunchCentresDefaultContentAndKeepsMinimumSize) {
  auto window = makeWindow();
  window->awakeFromNib(services());
  window->present();
  ASSERT_TRUE(pumpUntil([&] { return mapped(*window); }));
  const ScreenRect area = window->screenLayout().workareas.at(0);
  ScreenRect place;
  // The window manager places the window a moment after it is mapped.
  EXPECT_TRUE(pumpUntil([&] {
    place = placeOf(window->window());
    return place.width == kDefaultContentWidth && place.height == kDefaultContentHeight &&
           std::abs(place.x + place.width / 2 - (area.x + area.width / 2)) <= 40 &&
           std::abs(place.y + place.height / 2 - (area.y + area.height / 2)) <= 60;
  })) << place.x
      << "," << place.y << " " << place.width << "x" << place.height;

  gtk_window_resize(window->window(), 300, 200);
  pumpUntil([&] { return placeOf(window->window()).width != kDefaultContentWidth; }, 2);
  place = placeOf(window->window());
  EXPECT_GE(place.width, kMinWindowWidth);
  EXPECT_GE(place.height, kMinWindowHeight);
}

TEST_F(MainFlutterWindowTest, CloseStoresFrameHidesAndReopensAtTheSameFrame) {
  auto window = makeWindow();
  window->awakeFromNib(services());
  window->present();
  ASSERT_TRUE(pumpUntil([&] { return mapped(*window); }));
  gtk_window_move(window->window(), 210, 140);
  gtk_window_resize(window->window(), 1200, 800);
  ScreenRect before;
  ASSERT_TRUE(pumpUntil([&] {
    before = placeOf(window->window());
    return settledPlaceOf(window->window()) == ScreenRect{210, 140, 1200, 800};
  })) << before.x
      << "," << before.y << " " << before.width << "x" << before.height;

  // The close button asks through delete-event, as the window manager does.
  gtk_window_close(window->window());
  ASSERT_TRUE(pumpUntil([&] { return !mapped(*window); }));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window->window())));
  const std::optional<WindowFrame> stored =
      restoreFrame(defaults_.stringForKey(kMainWindowFrameKey));
  ASSERT_TRUE(stored);
  EXPECT_EQ(placeRestoredFrame(*stored, window->screenLayout()), before);

  // Reopened from memory, even when the stored value changed meanwhile.
  defaults_.setString(kMainWindowFrameKey, "not base64");
  window->present();
  ScreenRect after;
  ASSERT_TRUE(pumpUntil([&] {
    after = placeOf(window->window());
    return settledPlaceOf(window->window()) == before;
  })) << after.x
      << "," << after.y << " " << after.width << "x" << after.height;

  // The next launch restores the stored frame.
  gtk_window_close(window->window());
  ASSERT_TRUE(pumpUntil([&] { return !mapped(*window); }));
  window.reset();
  auto next = makeWindow();
  next->awakeFromNib(services());
  next->present();
  ScreenRect restored;
  ASSERT_TRUE(pumpUntil([&] {
    restored = placeOf(next->window());
    return settledPlaceOf(next->window()) == before;
  })) << restored.x
      << "," << restored.y << " " << restored.width << "x" << restored.height;
  EXPECT_TRUE(logLines_.empty());
}

TEST_F(MainFlutterWindowTest, AbsurdStoredFrameStaysReachable) {
  defaults_.setString(kMainWindowFrameKey,
                      *encodeFrame({1e308, -1e308, 1e308, 5}));  // far away, enormous
  auto window = makeWindow();
  window->awakeFromNib(services());
  window->present();
  ASSERT_TRUE(pumpUntil([&] { return mapped(*window); }));
  const ScreenLayout layout = window->screenLayout();
  ScreenRect place;
  ASSERT_TRUE(pumpUntil([&] {
    place = placeOf(window->window());
    const ScreenRect& a = layout.workareas.at(0);
    return place.x >= a.x && place.y >= a.y && place.x + place.width <= a.x + a.width &&
           place.y + place.height <= a.y + a.height;
  })) << place.x
      << "," << place.y << " " << place.width << "x" << place.height;
}

TEST_F(MainFlutterWindowTest, SidebarButtonSendsOneToggleWithNullArguments) {
  testing::FakeFlutterUi ui(engine_.binaryMessenger());
  auto window = makeWindow();
  window->awakeFromNib(services());
  GtkWidget* button = window->sidebarButton();
  ASSERT_NE(button, nullptr);
  EXPECT_STREQ(atk_object_get_name(gtk_widget_get_accessible(button)), "Toggle Sidebar");
  EXPECT_TRUE(GTK_IS_HEADER_BAR(gtk_widget_get_parent(button)));

  gtk_button_clicked(GTK_BUTTON(button));
  loop_.runUntilIdle();
  const std::vector<channels::FlutterMethodCall> expected{{"toggle", Value()}};
  EXPECT_EQ(ui.callsOn("com.tavik/sidebar"), expected);
  EXPECT_EQ(ui.received().size(), 1u);
}

TEST_F(MainFlutterWindowTest, ContentSaysHowToConnectUntilAnInterfaceIsConnected) {
  auto window = makeWindow();
  window->awakeFromNib(services());
  BridgeState bridge{"/run/user/1000/pilvo/host.sock", 0, ""};
  window->watchBridgeState(loop_, [&] { return bridge; });
  EXPECT_NE(window->contentText().find("No interface connected"), std::string::npos);
  EXPECT_NE(window->contentText().find("pilvoctl --socket /run/user/1000/pilvo/host.sock call"),
            std::string::npos)
      << window->contentText();

  window->present();
  ASSERT_TRUE(pumpUntil([&] { return mapped(*window); }));
  bridge.clients = 1;
  loop_.advance(kBridgeStateInterval);
  EXPECT_NE(window->contentText().find("Interface connected"), std::string::npos);

  // A hidden window does not keep looking.
  window->close();
  ASSERT_TRUE(pumpUntil([&] { return !mapped(*window); }));
  EXPECT_EQ(loop_.activeTimerCount(), 0u);

  bridge.error = "another Pilvo host is already serving /run/user/1000/pilvo/host.sock";
  window->present();
  ASSERT_TRUE(pumpUntil([&] { return mapped(*window); }));
  EXPECT_NE(window->contentText().find("another Pilvo host"), std::string::npos);
}

}  // namespace
}  // namespace pilvo::host
