// The nudge panels on the real GTK + WebKitGTK platform, in-process, with a
// compositor (picom) started in the session when one is installed:
//   overlay_bench [SECONDS]
// Prints the time from the answered "showOverlay" to the panel's first frame,
// the frames of the 0.5 s slide-in and the longest gap between two, the
// resident memory of this process and of its web process with the page
// loaded, and the CPU of both over SECONDS (default 10) with no nudge and
// with one shown.
#include <dirent.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "channels/flutter_engine.h"
#include "channels/standard_codec.h"
#include "common/glib_event_loop.h"
#include "overlay/focus_overlay_plugin.h"
#include "overlay/gtk_overlay_platform.h"
#include "testing/fake_flutter_ui.h"
#include "testing/wait.h"

namespace {

using Clock = std::chrono::steady_clock;
using pilvo::channels::makeMap;

using pilvo::testing::pumpUntil;
// Runs the main loop for `seconds` without polling, so the CPU figures are the
// panels' own.
void pumpFor(double seconds) {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_timeout_add(
      guint(seconds * 1000),
      +[](gpointer l) {
        g_main_loop_quit(static_cast<GMainLoop*>(l));
        return G_SOURCE_REMOVE;
      },
      loop);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Resident memory in MB from /proc/PID/status.
double residentMb(pid_t pid) {
  std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}

// User + system CPU seconds of a process.
double cpuSeconds(pid_t pid) {
  const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t paren = stat.rfind(')');
  if (paren == std::string::npos) return 0;
  std::istringstream fields(stat.substr(paren + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);
    if (i == 15) break;
  }
  return ticks / double(sysconf(_SC_CLK_TCK));
}

// The web process WebKit started for this process.
pid_t webProcess() {
  DIR* proc = opendir("/proc");
  pid_t found = 0;
  while (dirent* entry = proc ? readdir(proc) : nullptr) {
    const pid_t pid = pid_t(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    const std::string dir = "/proc/" + std::string(entry->d_name);
    if (readFile(dir + "/comm").rfind("WebKitWebProces", 0) != 0) continue;
    const std::string stat = readFile(dir + "/stat");
    const size_t paren = stat.rfind(')');
    std::istringstream fields(stat.substr(paren + 2));
    std::string state;
    pid_t parent = 0;
    fields >> state >> parent;
    if (parent == getpid()) found = pid;
  }
  if (proc) closedir(proc);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10;

  pid_t picom = 0;
  // A Wayland compositor composites by itself.
  if (GDK_IS_X11_DISPLAY(gdk_display_get_default()) &&
      system("command -v picom >/dev/null") == 0) {
    picom = fork();
    if (picom == 0) {
      execlp("picom", "picom", "--backend", "xrender", "--config", "/dev/null", nullptr);
      _exit(127);
    }
    pumpUntil([] { return gdk_screen_is_composited(gdk_screen_get_default()); }, 10);
  }
  std::printf("compositor: %s\n", pilvo::overlay::GtkOverlayPlatform::composited() ? "yes" : "no");

  pilvo::GlibEventLoop loop;
  pilvo::channels::FlutterEngine engine{loop, [](const std::string&) {}};
  pilvo::overlay::GtkOverlayPlatform platform{loop};
  bool loaded = false;
  pilvo::overlay::FocusOverlayPlugin::registerWith(
      engine.registrarForPlugin("TavikPlugins"), platform,
      [&](pilvo::host::HostLogLevel, std::string_view line) {
        if (line == "Tavik: korima_overlay.html loaded") loaded = true;
      });
  pilvo::testing::FakeFlutterUi ui{engine.binaryMessenger()};
  if (!pumpUntil([&] { return loaded; }, 30)) {
    std::fprintf(stderr, "overlay_bench: the page did not load\n");
    return 1;
  }
  pumpFor(1);

  struct Frame {
    Clock::time_point at;
    bool moved;
    double x;
  };
  std::vector<Frame> frames;
  pilvo::overlay::GtkOverlayPlatform::setPanelFrameObserver([&](bool moved, double x) {
    frames.push_back({Clock::now(), moved, x});
  });

  const pid_t self = getpid();
  const pid_t web = webProcess();
  std::printf("resident memory with the page loaded: host %.1f MB, web process %.1f MB\n",
              residentMb(self), web ? residentMb(web) : 0.0);

  double hostCpu = cpuSeconds(self), webCpu = web ? cpuSeconds(web) : 0;
  pumpFor(seconds);
  std::printf("CPU with no nudge, %.0f s: host %.3f s, web process %.3f s\n", seconds,
              cpuSeconds(self) - hostCpu, web ? cpuSeconds(web) - webCpu : 0.0);

  const Clock::time_point sent = Clock::now();
  auto reply = ui.sendRaw(
      pilvo::overlay::kOverlayChannelName,
      pilvo::channels::encodeMethodCall({"showOverlay", makeMap({{"message", "Time to refocus?"},
                                                                 {"showButtons", true},
                                                                 {"durationSeconds", 600}})}));
  pumpUntil([&] { return reply->has_value(); }, 5);
  pumpFor(1.0);
  auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  if (frames.empty()) {
    std::printf("no panel frame\n");
  } else {
    std::printf("showOverlay sent -> first panel frame: %.1f ms\n", ms(frames.front().at - sent));
    std::vector<Clock::time_point> moves;
    for (const Frame& f : frames) {
      if (f.moved) moves.push_back(f.at);
    }
    double longest = 0;
    for (size_t i = 1; i < moves.size(); ++i)
      longest = std::max(longest, ms(moves[i] - moves[i - 1]));
    std::printf("slide-in: %zu frames over %.0f ms, longest gap %.1f ms\n", moves.size(),
                moves.empty() ? 0.0 : ms(moves.back() - moves.front()), longest);
  }
  std::printf("resident memory with a nudge shown: host %.1f MB, web process %.1f MB\n",
              residentMb(self), web ? residentMb(web) : 0.0);
  hostCpu = cpuSeconds(self);
  webCpu = web ? cpuSeconds(web) : 0;
  pumpFor(seconds);
  std::printf("CPU with a nudge shown, %.0f s: host %.3f s, web process %.3f s\n", seconds,
              cpuSeconds(self) - hostCpu, web ? cpuSeconds(web) - webCpu : 0.0);

  pilvo::overlay::GtkOverlayPlatform::setPanelFrameObserver(nullptr);
  if (picom > 0) {
    kill(picom, SIGTERM);
    waitpid(picom, nullptr, 0);
  }
  return 0;
}
