// The real tray on a real session bus and X display (scripts/with-x-session.sh):
// a small StatusNotifierWatcher written here plays the desktop's tray, trayer
// plays an XEmbed tray. Every wait is bounded.
#include "menubar/status_notifier_tray.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>

#include <set>

#include "common/glib_event_loop.h"
#include "menubar/menu_bar_controller.h"
#include "menubar/tray_icon.h"
#include "testing/wait.h"

namespace pilvo::menubar {
namespace {

using channels::Value;

// Runs the main context while waiting, so the item and the watcher can talk.
bool pumpUntil(const std::function<bool()>& done, double seconds = 10.0) {
  return testing::waitUntil(
      [&] {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        return done();
      },
      seconds);
}

// A StatusNotifierWatcher on its own connection: records registered items and
// drops them when their bus name goes away.
class TestWatcher {
 public:
  TestWatcher() {
    char* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    connection_ = g_dbus_connection_new_for_address_sync(
        address,
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    g_free(address);
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.kde.StatusNotifierWatcher'>"
        "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
        "</interface></node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {
        [](GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar*,
           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
          const char* service = nullptr;
          g_variant_get(parameters, "(&s)", &service);
          static_cast<TestWatcher*>(self)->registered.insert(service);
          static_cast<TestWatcher*>(self)->senders.insert(sender);
          g_dbus_method_invocation_return_value(invocation, nullptr);
        },
        nullptr,
        nullptr,
        {}};
    g_dbus_connection_register_object(connection_, "/StatusNotifierWatcher", info->interfaces[0],
                                      &vtable, this, nullptr, nullptr);
    g_dbus_node_info_unref(info);
    subscription_ = g_dbus_connection_signal_subscribe(
        connection_, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", nullptr,
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* parameters, gpointer self) {
          const char *name, *from, *to;
          g_variant_get(parameters, "(&s&s&s)", &name, &from, &to);
          if (*to == '\0') static_cast<TestWatcher*>(self)->registered.erase(name);
        },
        this, nullptr);
    ownerId_ = g_bus_own_name_on_connection(connection_, kStatusNotifierWatcherName,
                                            G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr, nullptr,
                                            nullptr);
  }
  ~TestWatcher() {
    g_bus_unown_name(ownerId_);
    g_dbus_connection_signal_unsubscribe(connection_, subscription_);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
  }

  // Calls the item as a tray host would, without blocking the item's loop.
  GVariant* call(const std::string& item, const char* interface, const char* method,
                 GVariant* parameters) {
    GVariant* reply = nullptr;
    bool done = false;
    struct Pending {
      GVariant** reply;
      bool* done;
    };
    auto* pending = new Pending{&reply, &done};
    g_dbus_connection_call(
        connection_, item.c_str(), kStatusNotifierItemPath, interface, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* p = static_cast<Pending*>(data);
          *p->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
          *p->done = true;
          delete p;
        },
        pending);
    EXPECT_TRUE(pumpUntil([&] { return done; })) << method;
    return reply;
  }

  // The colour and opacity at the middle of the main pad in the 32-pixel image.
  std::pair<uint32_t, int> sample(const std::string& item) {
    GVariant* reply = call(item, "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", "org.kde.StatusNotifierItem", "IconPixmap"));
    if (!reply) return {0, -1};
    GVariant* boxed = nullptr;
    g_variant_get(reply, "(v)", &boxed);
    std::pair<uint32_t, int> pixel{0, -1};
    GVariantIter iter;
    g_variant_iter_init(&iter, boxed);
    int width, height;
    GVariant* data;
    while (g_variant_iter_next(&iter, "(ii@ay)", &width, &height, &data)) {
      gsize length = 0;
      const auto* argb = static_cast<const uint8_t*>(g_variant_get_fixed_array(data, &length, 1));
      if (width == 32 && length == 32u * 32u * 4u) {
        const uint8_t* p = argb + (22 * 32 + 16) * 4;
        pixel = {uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3], p[0]};
      }
      g_variant_unref(data);
    }
    g_variant_unref(boxed);
    g_variant_unref(reply);
    return pixel;
  }

  std::set<std::string> registered;
  std::set<std::string> senders;

 private:
  GDBusConnection* connection_ = nullptr;
  guint subscription_ = 0;
  guint ownerId_ = 0;
};

struct RecordingSink final : channels::FlutterEventSink {
  void success(Value event) override { events.push_back(std::move(event)); }
  void error(channels::FlutterError) override { ADD_FAILURE() << "no errors on this channel"; }
  void endOfStream() override { ADD_FAILURE() << "no end of stream on this channel"; }
  bool valid() const override { return true; }
  std::vector<Value> events;
};

void runCommand(const std::string& command) {
  ASSERT_EQ(std::system(("timeout 10 " + command).c_str()), 0) << command;
}

class StatusNotifierTrayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gtk_init(nullptr, nullptr); }

  void start() {
    tray_ =
        std::make_unique<StatusNotifierTray>([this](std::string_view s) { said_.emplace_back(s); });
    controller_ = std::make_shared<MenuBarController>(
        tray_.get(), loop_, AppCommands{[this] { ++opened_; }, [this] { ++quits_; }});
    controller_->onListen(Value(), sink_);
  }
  void TearDown() override {
    controller_.reset();
    tray_.reset();
    pumpUntil([] { return true; });
  }

  GlibEventLoop loop_;
  std::vector<std::string> said_;
  std::unique_ptr<StatusNotifierTray> tray_;
  std::shared_ptr<MenuBarController> controller_;
  std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
  int opened_ = 0;
  int quits_ = 0;
};

TEST_F(StatusNotifierTrayTest, ItemRegistersAndItsPixmapFollowsScoreAndTrackingOnly) {
  TestWatcher watcher;
  start();
  ASSERT_TRUE(pumpUntil([&] { return watcher.registered.count(tray_->itemBusName()) == 1; }));
  const std::string item = tray_->itemBusName();
  EXPECT_EQ(watcher.sample(item), std::pair(trayIconColour(std::nullopt), 255));

  for (const auto& [score, tint] : std::vector<std::pair<int, TrayTint>>{{70, TrayTint::kGreen},
                                                                         {69, TrayTint::kOrange},
                                                                         {40, TrayTint::kOrange},
                                                                         {39, TrayTint::kRed},
                                                                         {0, TrayTint::kRed}}) {
    controller_->updateStatusIcon(score);
    pumpUntil([] { return true; });
    EXPECT_EQ(watcher.sample(item), std::pair(trayIconColour(tint), 255)) << score;
  }
  controller_->handleMethodCall(
      {"updatePopover", channels::makeMap({{"score", 90}, {"isTracking", false}})},
      std::make_unique<channels::FlutterResult>([](channels::MethodResponse) {}, "",
                                                [](const std::string&) {}));
  pumpUntil([] { return true; });
  EXPECT_EQ(watcher.sample(item), std::pair(trayIconColour(TrayTint::kRed), 255));
  controller_->updateTrackingIndicator(false);
  pumpUntil([] { return true; });
  EXPECT_EQ(watcher.sample(item).second, 89) << "dimmed";
  EXPECT_TRUE(said_.empty());
}

TEST_F(StatusNotifierTrayTest, ActivateOpensTheMenuAndItsRowsSendCommands) {
  TestWatcher watcher;
  start();
  ASSERT_TRUE(pumpUntil([&] { return watcher.registered.count(tray_->itemBusName()) == 1; }));
  controller_->handleMethodCall(
      {"updatePopover", channels::makeMap({{"score", 72},
                                           {"focusState", "deep"},
                                           {"deepWork", 45},
                                           {"switches", 12},
                                           {"isTracking", true}})},
      std::make_unique<channels::FlutterResult>([](channels::MethodResponse) {}, "",
                                                [](const std::string&) {}));
  watcher.call(tray_->itemBusName(), "org.kde.StatusNotifierItem", "Activate",
               g_variant_new("(ii)", 10, 10));
  ASSERT_TRUE(pumpUntil([&] { return tray_->openMenuMapped(); }));
  EXPECT_EQ(
      tray_->openMenuRows(),
      (std::vector<std::string>{"Pilvo", "-", "Focus: 72 \u2014 Deep Focus",
                                "45 min deep work  \u00B7  12 switches", "-", "Start Deep Session",
                                "-", "Pause Tracking", "-", "Open Pilvo", "Quit Pilvo"}));
  // The keyboard skips the disabled lines: the first choice is the session.
  runCommand("xdotool key Down Return");
  ASSERT_TRUE(pumpUntil([&] { return !sink_->events.empty(); }));
  EXPECT_EQ(sink_->events, std::vector<Value>{"startSession"});
  EXPECT_FALSE(tray_->openMenuMapped());

  // A right click opens it too; its key "q" quits.
  watcher.call(tray_->itemBusName(), "org.kde.StatusNotifierItem", "ContextMenu",
               g_variant_new("(ii)", 10, 10));
  ASSERT_TRUE(pumpUntil([&] { return tray_->openMenuMapped(); }));
  runCommand("xdotool key q");
  ASSERT_TRUE(pumpUntil([&] { return quits_ == 1; }));
  EXPECT_EQ(sink_->events.size(), 1u);
}

TEST_F(StatusNotifierTrayTest, HideUnregistersAndShowRegistersAPlainItemAgain) {
  TestWatcher watcher;
  start();
  ASSERT_TRUE(pumpUntil([&] { return watcher.registered.count(tray_->itemBusName()) == 1; }));
  const std::string first = tray_->itemBusName();
  controller_->updateStatusIcon(80);
  controller_->updateTrackingIndicator(false);
  controller_->setVisible(false);
  ASSERT_TRUE(pumpUntil([&] { return watcher.registered.empty(); }));
  controller_->setVisible(true);
  ASSERT_TRUE(pumpUntil([&] { return watcher.registered.size() == 1; }));
  EXPECT_NE(tray_->itemBusName(), first);
  EXPECT_EQ(watcher.sample(tray_->itemBusName()), std::pair(trayIconColour(std::nullopt), 255));
}

TEST_F(StatusNotifierTrayTest, AWatcherThatStartsLaterOrAgainGetsTheItem) {
  start();
  ASSERT_TRUE(pumpUntil([&] { return !said_.empty(); })) << "no tray yet: said so";
  for (int round = 0; round < 2; ++round) {
    TestWatcher watcher;
    EXPECT_TRUE(pumpUntil([&] { return watcher.registered.count(tray_->itemBusName()) == 1; }))
        << "round " << round;
  }
  EXPECT_EQ(said_.size(), 1u) << "said once";
}

TEST_F(StatusNotifierTrayTest, WithoutWatcherTheIconDocksInAnXEmbedTrayThatStartsLater) {
  start();
  ASSERT_TRUE(pumpUntil([&] { return !said_.empty(); }));
  EXPECT_EQ(said_, std::vector<std::string>{
                       "Tavik: no system tray on this desktop yet; the Pilvo item appears when "
                       "one starts"});

  GPid trayer = 0;
  const char* argv[] = {"trayer",  "--edge",   "top", "--align",       "right", "--widthtype",
                        "request", "--height", "32",  "--SetDockType", "true",  nullptr};
  ASSERT_TRUE(g_spawn_async(nullptr, const_cast<char**>(argv), nullptr,
                            GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                        G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                            nullptr, nullptr, &trayer, nullptr));
  const bool embedded = pumpUntil([&] { return tray_->legacyIconEmbedded(); });
  std::optional<std::array<int, 4>> at;
  if (embedded) {
    pumpUntil([&] { return (at = tray_->legacyIconGeometry()) && (*at)[2] > 0; });
  }
  if (embedded && at) {
    const auto [x, y, w, h] = *at;
    runCommand("xdotool mousemove " + std::to_string(x + w / 2) + " " + std::to_string(y + h / 2) +
               " click 1");
    EXPECT_TRUE(pumpUntil([&] { return tray_->openMenuMapped(); })) << "a click opens the menu";
    EXPECT_EQ(tray_->openMenuRows().front(), "Pilvo");
    runCommand("xdotool key Escape");
  }
  kill(trayer, SIGTERM);
  waitpid(trayer, nullptr, 0);
  g_spawn_close_pid(trayer);
  EXPECT_TRUE(embedded) << "the icon docks in trayer";
  EXPECT_TRUE(at.has_value());
  EXPECT_EQ(said_.size(), 1u) << "said once";
}

}  // namespace
}  // namespace pilvo::menubar
