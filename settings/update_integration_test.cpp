// The updater against real parts: libsoup fetching fixture feeds from a local
// HTTP server (never the internet), GNotification reaching a notification
// server on the session bus, and "updateReady" reaching `pilvoctl listen`
// over the socket bridge. Runs in the D-Bus session of with-x-session.sh;
// every wait is bounded.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "channels/flutter_engine.h"
#include "common/glib_event_loop.h"
#include "settings/soup_update_platform.h"
#include "settings/sparkle_updater_plugin.h"
#include "testing/temp_dir.h"
#include "testing/wait.h"
#include "testing/test_environment.h"

namespace pilvo::settings {
namespace {


// Runs the main context until `done` holds or `seconds` pass.
using testing::pumpUntil;

// org.freedesktop.Notifications on the session bus, recording what it is asked to show.
class NotificationServer {
 public:
  struct Shown {
    std::string summary;
    std::string body;
    std::vector<std::string> actions;
  };

  NotificationServer() {
    connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable = {onCall, nullptr, nullptr, {}};
    registration_ =
        g_dbus_connection_register_object(connection_, "/org/freedesktop/Notifications",
                                          info->interfaces[0], &vtable, this, nullptr, nullptr);
    g_dbus_node_info_unref(info);
    owner_ = g_bus_own_name_on_connection(
        connection_, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const char*, gpointer self) {
          static_cast<NotificationServer*>(self)->owned_ = true;
        },
        nullptr, this, nullptr);
  }
  ~NotificationServer() {
    g_bus_unown_name(owner_);
    g_dbus_connection_unregister_object(connection_, registration_);
    g_object_unref(connection_);
  }
  bool owned() const { return owned_; }

  std::vector<Shown> shown;

 private:
  static constexpr const char* kIntrospection =
      "<node><interface name='org.freedesktop.Notifications'>"
      "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
      "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
      "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/>"
      "<arg type='i' direction='in'/><arg type='u' direction='out'/></method>"
      "<method name='CloseNotification'><arg type='u' direction='in'/></method>"
      "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
      "<method name='GetServerInformation'><arg type='s' direction='out'/>"
      "<arg type='s' direction='out'/><arg type='s' direction='out'/>"
      "<arg type='s' direction='out'/></method></interface></node>";

  static void onCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<NotificationServer*>(data);
    const std::string name = method;
    if (name == "Notify") {
      const char *summary, *body;
      GVariantIter* actions;
      g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", nullptr, nullptr, nullptr, &summary, &body,
                    &actions, nullptr, nullptr);
      Shown shown{summary, body, {}};
      for (const char* action; g_variant_iter_next(actions, "&s", &action);) {
        shown.actions.emplace_back(action);
      }
      g_variant_iter_free(actions);
      self->shown.push_back(std::move(shown));
      g_dbus_method_invocation_return_value(
          invocation, g_variant_new("(u)", static_cast<guint32>(self->shown.size())));
    } else if (name == "GetCapabilities") {
      const char* caps[] = {"actions", "body", nullptr};
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", caps));
    } else if (name == "GetServerInformation") {
      g_dbus_method_invocation_return_value(invocation,
                                            g_variant_new("(ssss)", "test", "pilvo", "1", "1.2"));
    } else {
      g_dbus_method_invocation_return_value(invocation, nullptr);
    }
  }

  GDBusConnection* connection_;
  guint registration_;
  guint owner_;
  bool owned_ = false;
};

class UpdateIntegrationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The fixture server: its port on the first line; it ends when our end of its input closes.
    const std::string script = testing::sourceDir() + "/settings/testdata/feed_server.py";
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    if ((server_ = fork()) == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      execlp("python3", "python3", script.c_str(), nullptr);
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    serverInput_ = in[1];
    FILE* port = fdopen(out[0], "r");
    char line[32] = {};
    ASSERT_TRUE(fgets(line, sizeof line, port)) << "the fixture server did not start";
    fclose(port);
    base_ = "http://127.0.0.1:" + std::string(line, strcspn(line, "\n"));

    application_ = g_application_new("com.pilvo.UpdaterTest", G_APPLICATION_NON_UNIQUE);
    ASSERT_TRUE(g_application_register(application_, nullptr, nullptr));
  }
  static void TearDownTestSuite() {
    close(serverInput_);
    kill(server_, SIGTERM);
    waitpid(server_, nullptr, 0);
    g_clear_object(&application_);
  }

  void SetUp() override {
    ASSERT_TRUE(pumpUntil([&] { return notifications_.owned(); }, 10));
  }

  // Runs a check the user asked for against `path`; the notification it led to.
  std::optional<NotificationServer::Shown> checkAgainst(UpdateService& service) {
    const size_t before = notifications_.shown.size();
    service.checkForUpdates();
    if (!pumpUntil([&] { return notifications_.shown.size() > before; }, 15)) return std::nullopt;
    return notifications_.shown.back();
  }

  static inline pid_t server_ = -1;
  static inline int serverInput_ = -1;
  static inline std::string base_;
  static inline GApplication* application_ = nullptr;

  GlibEventLoop loop_;
  NotificationServer notifications_;
  SoupUpdatePlatform platform_{application_, nullptr, "Pilvo-test", FetchLimits{1024 * 1024, 3, 5}};
};

TEST_F(UpdateIntegrationTest, EveryFeedEndsInTheRightNotificationAndOnlyANewerOneIsReady) {
  struct Row {
    const char* path;
    const char* summary;
    const char* bodyHas;
    bool ready;
  };
  for (const Row& row : std::vector<Row>{
           {"/feed/0.2.0", "Pilvo 0.2.0 is available", "release notes", true},
           {"/feed/0.1.0", "Pilvo is up to date", "0.1.0", false},
           {"/feed/0.0.9", "Pilvo is up to date", "0.1.0", false},
           {"/several", "Pilvo 0.4.0 is available", "release notes", true},
           {"/redirect/0.3.0", "Pilvo 0.3.0 is available", "release notes", true},
           {"/malformed", "Could not check for updates", "not well-formed", false},
           {"/huge", "Could not check for updates", "larger than 1 MiB", false},
           {"/slow", "Could not check for updates", "within 3 s", false},
           {"/loop", "Could not check for updates", "more than 5 redirects", false},
           {"/to-plain-http", "Could not check for updates", "must use HTTPS", false},
           {"/missing", "Could not check for updates", "404", false},
       }) {
    std::vector<std::string> errors;
    UpdateService service(platform_, loop_, {base_ + row.path, "0.1.0"},
                          [&](bool isError, std::string_view line) {
                            if (isError) errors.emplace_back(line);
                          });
    const auto shown = checkAgainst(service);
    ASSERT_TRUE(shown) << row.path << ": nothing shown";
    EXPECT_EQ(shown->summary, row.summary) << row.path;
    EXPECT_NE(shown->body.find(row.bodyHas), std::string::npos) << row.path << ": " << shown->body;
    EXPECT_EQ(service.updateReady(), row.ready) << row.path;
    EXPECT_EQ(errors.size(), row.summary == std::string("Could not check for updates") ? 1u : 0u)
        << row.path;
    if (row.ready) {
      // The notification's action opens the release notes.
      EXPECT_FALSE(shown->actions.empty()) << row.path;
    }
  }
}

TEST(FeedAddressTest, OnlyHttpsOrThisMachineIsFetched) {
  for (const char* allowed :
       {"https://example.org/appcast.xml", "HTTPS://example.org", "http://127.0.0.1:8080/feed",
        "http://127.8.9.1/", "http://[::1]:80/", "http://localhost/appcast.xml"}) {
    EXPECT_TRUE(isAllowedFeedUrl(allowed)) << allowed;
  }
  for (const char* refused :
       {"http://example.org/appcast.xml", "http://127.0.0.1.example.org/", "http://10.0.0.1/",
        "ftp://example.org/appcast.xml", "file:///etc/passwd", "https://", "appcast.xml", ""}) {
    EXPECT_FALSE(isAllowedFeedUrl(refused)) << refused;
  }
}

TEST_F(UpdateIntegrationTest, UpdateReadyReachesAListeningInterfaceOnce) {
  testing::TempDir run;
  channels::FlutterEngine engine(loop_, [](const std::string&) {});
  auto service = std::make_shared<UpdateService>(platform_, loop_,
                                                 UpdaterSettings{base_ + "/feed/0.2.0", "0.1.0"});
  SparkleUpdaterPlugin::registerWith(engine.registrarForPlugin("TavikPlugins"), service);
  const std::string socket = run.file("host.sock");
  ASSERT_EQ(engine.startBridge(socket), "");
  size_t clients = 0;
  engine.bridge()->setClientCountHandler([&](size_t n) { clients = n; });

  const std::string pilvoctl = testing::buildDir() + "/channels/pilvoctl";
  const std::string output = run.file("listen.out");
  const pid_t listener = fork();
  if (listener == 0) {
    if (!freopen(output.c_str(), "w", stdout)) _exit(126);
    execl(pilvoctl.c_str(), pilvoctl.c_str(), "--socket", socket.c_str(), "--timeout", "8",
          "listen", kUpdaterChannelName, nullptr);
    _exit(127);
  }
  ASSERT_TRUE(pumpUntil([&] { return clients == 1; }, 10));
  EXPECT_FALSE(service->updateReady());
  ASSERT_TRUE(checkAgainst(*service));
  EXPECT_TRUE(service->updateReady());
  int status = 0;
  ASSERT_TRUE(pumpUntil([&] { return waitpid(listener, &status, WNOHANG) == listener; }, 15));
  EXPECT_EQ(testing::readFile(output),
            "{\"channel\":\"com.pilvo/updater\",\"method\":\"updateReady\","
            "\"arguments\":{\"version\":\"0.2.0\"}}\n");
}

}  // namespace
}  // namespace pilvo::settings
