// The tray item of the real `pilvo`, measured from outside as a tray host sees
// it: a StatusNotifierWatcher here on the session bus, an interface on the
// socket bridge, the X server for the menu's window.
//
//   scripts/with-x-session.sh build/bench/menubar_tray_bench build/host/pilvo [ROUNDS]
//   [IDLE_SECONDS]
//
// 1. "updateScore" call -> NewIcon from the item -> the new IconPixmap read back.
// 2. Activate (a click as the tray host reports it) -> the menu's window mapped.
// 3. Wakeups and CPU of the host left alone with the item shown.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "channels/bridge_client.h"
#include "channels/standard_codec.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

bool pumpUntil(const std::function<bool()>& done, double seconds = 10) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
    if (!done()) g_usleep(100);
  }
  return true;
}

void report(const char* what, std::vector<double> samples) {
  if (samples.empty()) {
    std::printf("%-44s no samples\n", what);
    return;
  }
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[static_cast<size_t>(q * (samples.size() - 1))]; };
  std::printf("%-44s n=%zu median %.2f ms  p99 %.2f ms  max %.2f ms\n", what, samples.size(),
              at(0.5), at(0.99), samples.back());
}

// voluntary + involuntary context switches, and CPU seconds, of `pid`.
std::pair<long, double> usage(pid_t pid) {
  long switches = 0;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.find("ctxt_switches:") != std::string::npos) {
      switches += std::stol(line.substr(line.find(':') + 1));
    }
  }
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  std::vector<std::string> fields;
  std::string field;
  for (char c : text.substr(text.rfind(')') + 2)) {
    if (c == ' ') {
      fields.push_back(field);
      field.clear();
    } else {
      field += c;
    }
  }
  const double cpu = (std::stod(fields[11]) + std::stod(fields[12])) / sysconf(_SC_CLK_TCK);
  return {switches, cpu};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH/TO/pilvo [ROUNDS] [IDLE_SECONDS]\n", argv[0]);
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 200;
  const int idleSeconds = argc > 3 ? std::atoi(argv[3]) : 30;

  // A private place for the host.
  char dirTemplate[] = "/tmp/pilvo-tray-bench.XXXXXX";
  const std::string root = mkdtemp(dirTemplate);
  for (const char* sub : {"/run", "/data", "/config"}) g_mkdir((root + sub).c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  const std::string socket = root + "/run/pilvo/host.sock";

  // The watcher.
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  std::string registered;
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(
      "<node><interface name='org.kde.StatusNotifierWatcher'>"
      "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
      "</interface></node>",
      nullptr);
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
         GVariant* parameters, GDBusMethodInvocation* invocation, gpointer registered) {
        const char* service = nullptr;
        g_variant_get(parameters, "(&s)", &service);
        *static_cast<std::string*>(registered) = service;
        g_dbus_method_invocation_return_value(invocation, nullptr);
      },
      nullptr,
      nullptr,
      {}};
  g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", info->interfaces[0], &vtable,
                                    &registered, nullptr, nullptr);
  g_bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE,
                               nullptr, nullptr, nullptr, nullptr);

  const pid_t pilvo = fork();
  if (pilvo == 0) {
    execl(argv[1], argv[1], nullptr);
    _exit(127);
  }
  int failures = 0;
  if (!pumpUntil([&] { return !registered.empty() && access(socket.c_str(), F_OK) == 0; }, 20)) {
    std::fprintf(stderr, "the host did not register its item or open its socket\n");
    kill(pilvo, SIGKILL);
    return 1;
  }
  std::printf("item %s registered\n", registered.c_str());

  int newIcons = 0;
  g_dbus_connection_signal_subscribe(
      bus, registered.c_str(), "org.kde.StatusNotifierItem", "NewIcon", nullptr, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
         gpointer count) { ++*static_cast<int*>(count); },
      &newIcons, nullptr);
  auto callItem = [&](const char* interface, const char* method, GVariant* parameters) {
    GVariant* reply = nullptr;
    bool done = false;
    struct Pending {
      GVariant** reply;
      bool* done;
    };
    g_dbus_connection_call(
        bus, registered.c_str(), "/StatusNotifierItem", interface, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* p = static_cast<Pending*>(data);
          *p->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
          *p->done = true;
          delete p;
        },
        new Pending{&reply, &done});
    pumpUntil([&] { return done; });
    return reply;
  };

  // 1. updateScore -> new pixmap.
  pilvo::channels::BridgeClient client;
  if (std::string error = client.connect(socket); !error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::vector<double> scoreToPixmap;
  for (int i = 0; i < rounds; ++i) {
    const int before = newIcons;
    const auto start = Clock::now();
    const auto call = pilvo::channels::encodeMethodCall(
        {"updateScore", pilvo::channels::makeMap({{"score", i % 2 ? 20 : 80}})});
    std::string error;
    client.sendMessage("com.tavik/menubar", call, true, &error);
    pilvo::channels::Frame frame;
    if (client.readFrame(frame, 5000, &error) !=
            pilvo::channels::BridgeClient::ReadStatus::kFrame ||
        !pumpUntil([&] { return newIcons > before; }, 5)) {
      ++failures;
      continue;
    }
    GVariant* pixmap = callItem("org.freedesktop.DBus.Properties", "Get",
                                g_variant_new("(ss)", "org.kde.StatusNotifierItem", "IconPixmap"));
    if (!pixmap) {
      ++failures;
      continue;
    }
    g_variant_unref(pixmap);
    scoreToPixmap.push_back(ms(Clock::now() - start));
  }
  report("updateScore -> new IconPixmap read back", scoreToPixmap);

  // 2. click -> menu mapped.
  Display* display = XOpenDisplay(nullptr);
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  std::vector<double> clickToMenu;
  const int clicks = std::max(1, rounds / 4);
  for (int i = 0; i < clicks; ++i) {
    while (XPending(display)) {
      XEvent drop;
      XNextEvent(display, &drop);
    }
    const auto start = Clock::now();
    GVariant* reply =
        callItem("org.kde.StatusNotifierItem", "Activate", g_variant_new("(ii)", 0, 0));
    if (reply) g_variant_unref(reply);
    bool mapped = false;
    pumpUntil(
        [&] {
          while (!mapped && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            mapped = event.type == MapNotify && event.xmap.override_redirect;
          }
          return mapped;
        },
        5);
    if (!mapped) {
      ++failures;
      continue;
    }
    clickToMenu.push_back(ms(Clock::now() - start));
    // Close it again with Escape and wait until it is gone.
    const KeyCode escape = XKeysymToKeycode(display, XK_Escape);
    XTestFakeKeyEvent(display, escape, True, CurrentTime);
    XTestFakeKeyEvent(display, escape, False, CurrentTime);
    XFlush(display);
    bool unmapped = false;
    pumpUntil(
        [&] {
          while (!unmapped && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            unmapped = event.type == UnmapNotify;
          }
          return unmapped;
        },
        5);
  }
  report("Activate -> menu window mapped", clickToMenu);

  // 3. Left alone with the item shown.
  g_usleep(500 * 1000);
  const auto [switchesBefore, cpuBefore] = usage(pilvo);
  g_usleep(static_cast<gulong>(idleSeconds) * G_USEC_PER_SEC);
  const auto [switchesAfter, cpuAfter] = usage(pilvo);
  std::printf("%-44s %ld wakeups, %.2f s CPU in %d s\n", "host idle with the item shown",
              switchesAfter - switchesBefore, cpuAfter - cpuBefore, idleSeconds);

  client.close();
  kill(pilvo, SIGTERM);
  int status = 0;
  waitpid(pilvo, &status, 0);
  std::printf("failures: %d; host exit status %d\n", failures,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  XCloseDisplay(display);
  g_dbus_node_info_unref(info);
  g_object_unref(bus);
  return failures == 0 ? 0 : 1;
}
