// LogindSleepNotifications against a fake logind on a private bus: a
// dbus-daemon of the test's own stands in for the system bus
// (DBUS_SYSTEM_BUS_ADDRESS), and the test owns org.freedesktop.login1 on it.
#include "agent/logind_sleep_notifications.h"

#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace pilvo::agent {
namespace {

// Turns the default GLib context until `done` holds, for at most `seconds`.
bool turnUntil(const std::function<bool()>& done, double seconds = 5) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return true;
}

// True once every copy of the pipe's write end is closed.
bool hungUp(int readEnd) {
  pollfd p{readEnd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

GDBusConnection* connectTo(const std::string& address) {
  return g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
}

// A private bus and, on it, a logind that answers Inhibit with a pipe.
class FakeLogindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    daemon_ = fork();
    if (daemon_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      const std::string listen = "--address=unix:path=" + dir_.file("bus");
      execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1",
             listen.c_str(), nullptr);
      _exit(127);
    }
    close(out[1]);
    pollfd p{out[0], POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 10000), 1) << "dbus-daemon did not start";
    char buf[512] = {};
    const ssize_t n = read(out[0], buf, sizeof buf - 1);
    close(out[0]);
    ASSERT_GT(n, 0);
    address_ = std::string(buf, strcspn(buf, "\n"));
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);

    logind_ = connectTo(address_);
    ASSERT_NE(logind_, nullptr);
    GVariant* owned = g_dbus_connection_call_sync(
        logind_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.freedesktop.login1", 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    ASSERT_NE(owned, nullptr);
    g_variant_unref(owned);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.login1.Manager'><method name='Inhibit'>"
        "<arg direction='in' type='s'/><arg direction='in' type='s'/>"
        "<arg direction='in' type='s'/><arg direction='in' type='s'/>"
        "<arg direction='out' type='h'/></method></interface></node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {&FakeLogindTest::onCall, nullptr, nullptr, {}};
    object_ = g_dbus_connection_register_object(
        logind_, "/org/freedesktop/login1", node->interfaces[0], &vtable, this, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    ASSERT_NE(object_, 0u);
  }
  void TearDown() override {
    if (logind_) {
      g_dbus_connection_unregister_object(logind_, object_);
      g_dbus_connection_close_sync(logind_, nullptr, nullptr);
      g_object_unref(logind_);
    }
    for (int fd : inhibitReadEnds_) close(fd);
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (daemon_ > 0) {
      kill(daemon_, SIGTERM);
      waitpid(daemon_, nullptr, 0);
    }
  }

  static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                     const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                     gpointer data) {
    auto* self = static_cast<FakeLogindTest*>(data);
    const gchar* what = nullptr;
    const gchar* mode = nullptr;
    g_variant_get(parameters, "(&s&s&s&s)", &what, nullptr, nullptr, &mode);
    self->inhibits_.push_back(std::string(method) + " " + what + " " + mode);
    int fds[2];
    if (pipe(fds) != 0) return;
    GUnixFDList* list = g_unix_fd_list_new();
    const gint index = g_unix_fd_list_append(list, fds[1], nullptr);
    close(fds[1]);  // the list holds its own copy until the reply is sent
    self->inhibitReadEnds_.push_back(fds[0]);
    g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", index),
                                                            list);
    g_object_unref(list);
  }

  void emit(GDBusConnection* from, bool sleeping) {
    g_dbus_connection_emit_signal(from, nullptr, "/org/freedesktop/login1",
                                  "org.freedesktop.login1.Manager", "PrepareForSleep",
                                  g_variant_new("(b)", sleeping), nullptr);
    g_dbus_connection_flush_sync(from, nullptr, nullptr);
  }

  pilvo::testing::TempDir dir_;
  pid_t daemon_ = -1;
  std::string address_;
  GDBusConnection* logind_ = nullptr;
  guint object_ = 0;
  std::vector<std::string> inhibits_;
  std::vector<int> inhibitReadEnds_;
};

TEST_F(FakeLogindTest, SleepIsReportedWhileTheDelayLockHoldsItBackAndOnlyFromLogind) {
  std::string error;
  auto sleep = LogindSleepNotifications::connect(&error);
  ASSERT_NE(sleep, nullptr) << error;
  std::vector<bool> seen;
  bool lockHeldInHandler = false;
  sleep->setHandler([&](bool sleeping) {
    seen.push_back(sleeping);
    if (sleeping) lockHeldInHandler = !hungUp(inhibitReadEnds_.back());
  });
  ASSERT_TRUE(turnUntil([&] { return sleep->holdsDelayLock(); }));
  EXPECT_EQ(inhibits_, std::vector<std::string>{"Inhibit sleep delay"});

  // Anyone on the system bus may send this signal; only logind's counts.
  GDBusConnection* forger = connectTo(address_);
  ASSERT_NE(forger, nullptr);
  emit(forger, true);
  emit(logind_, true);
  ASSERT_TRUE(turnUntil([&] { return !seen.empty(); }));
  EXPECT_TRUE(lockHeldInHandler) << "the machine must not sleep before the handler ran";
  EXPECT_TRUE(turnUntil([&] { return hungUp(inhibitReadEnds_.back()); }))
      << "the lock is given back once the handler ran";

  emit(logind_, false);
  ASSERT_TRUE(turnUntil([&] { return seen.size() == 2 && sleep->holdsDelayLock(); }));
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));
  EXPECT_EQ(inhibits_.size(), 2u) << "taken again for the next sleep";
  g_dbus_connection_close_sync(forger, nullptr, nullptr);
  g_object_unref(forger);

  sleep.reset();
  EXPECT_TRUE(turnUntil([&] { return hungUp(inhibitReadEnds_.back()); }));
}

TEST(LogindSleepNotificationsTest, NoSystemBusIsAnErrorNotAHang) {
  pilvo::testing::TempDir dir;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.file("none")).c_str(), 1);
  std::string error;
  EXPECT_EQ(LogindSleepNotifications::connect(&error), nullptr);
  EXPECT_FALSE(error.empty());
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace pilvo::agent
