// The installed-application index with many menu entries that carry theme icons.
//
//   scripts/with-x-session.sh build/bench/app_index_bench build/host/pilvo build/channels/pilvoctl
//   [entries]
//
// A fixture data directory gets `entries` (default 500) desktop entries, half
// of them with a 48 x 48 PNG and half with an SVG in the user's hicolor theme.
// 1. In this process, with GTK initialised as in the host: the index service
//    on the GLib main loop, first call (icons rendered) and second call (icons
//    present): wall time; the longest main-loop turn the index itself took
//    (theme lookups, the answer); and the longest the loop was held from
//    outside, by a 1 ms timer whose late firings show it (this includes the
//    worker and other processes taking the CPU; its figure on an idle loop is
//    given for comparison).
// 2. The real `pilvo` with the same data: both calls through pilvoctl (wall
//    time including pilvoctl's start, against a trivial call) and the host's
//    resident memory and peak before and after.
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "common/glib_event_loop.h"
#include "host/theme_icon_lookup.h"
#include "testing/shell.h"
#include "tracking/app_index_service.h"
#include "tracking/gio_app_index_platform.h"

namespace {

using Steady = std::chrono::steady_clock;
double msSince(Steady::time_point t0) {
  return std::chrono::duration<double, std::milli>(Steady::now() - t0).count();
}

long statusKb(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  }
  return -1;
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void makeFixture(const std::string& data, int entries) {
  for (const char* dir :
       {"applications", "icons/hicolor/48x48/apps", "icons/hicolor/scalable/apps"}) {
    g_mkdir_with_parents((data + "/" + dir).c_str(), 0755);
  }
  GdkPixbuf* png = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 48, 48);
  gdk_pixbuf_fill(png, 0x3366ccff);
  for (int i = 0; i < entries; ++i) {
    char id[64];
    std::snprintf(id, sizeof id, "org.example.Bench%03d", i);
    writeText(data + "/applications/" + id + ".desktop",
              std::string("[Desktop Entry]\nType=Application\nExec=true\nName=Bench ") +
                  std::to_string(i) + "\nIcon=" + id + "\n");
    if (i % 2 == 0) {
      gdk_pixbuf_save(png, (data + "/icons/hicolor/48x48/apps/" + id + ".png").c_str(), "png",
                      nullptr, nullptr);
    } else {
      writeText(data + "/icons/hicolor/scalable/apps/" + id + ".svg",
                R"(<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48">)"
                R"(<circle cx="24" cy="24" r="20" fill="#c63"/></svg>)");
    }
  }
  g_object_unref(png);
}

// The GLib loop, timing every piece of work posted to it: the index's own
// main-loop turns (theme lookups, the answer).
class TimedLoop final : public pilvo::EventLoop {
 public:
  explicit TimedLoop(pilvo::GlibEventLoop& loop) : loop_(loop) {}
  std::chrono::system_clock::time_point now() const override { return loop_.now(); }
  std::unique_ptr<pilvo::EventSource> addTimer(double s, bool repeating,
                                               std::function<void()> callback) override {
    return loop_.addTimer(s, repeating, std::move(callback));
  }
  std::unique_ptr<pilvo::EventSource> addSignal(int signum, std::function<void()> cb) override {
    return loop_.addSignal(signum, std::move(cb));
  }
  std::unique_ptr<pilvo::EventSource> addFd(int fd, pilvo::IoCondition c,
                                            std::function<bool(pilvo::IoCondition)> cb) override {
    return loop_.addFd(fd, c, std::move(cb));
  }
  void post(std::function<void()> fn) override {
    loop_.post([this, fn = std::move(fn)] {
      const Steady::time_point t0 = Steady::now();
      fn();
      longestTurnMs = std::max(longestTurnMs, msSince(t0));
    });
  }
  void run() override { loop_.run(); }
  void quit() override { loop_.quit(); }

  double longestTurnMs = 0;

 private:
  pilvo::GlibEventLoop& loop_;
};

struct CallFigures {
  double wallMs;
  double longestHoldMs;
  size_t apps;
  double longestTurnMs = 0;
};

// Runs one call on the loop while a 1 ms timer watches how late it fires.
CallFigures measureCall(TimedLoop& loop, pilvo::tracking::AppIndexService* service,
                        double idleSeconds = 0) {
  double longest = 0;
  Steady::time_point last = Steady::now();
  auto tick = loop.addTimer(0.001, true, [&] {
    const Steady::time_point now = Steady::now();
    longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count() - 1);
    last = now;
  });
  size_t apps = 0;
  const Steady::time_point t0 = Steady::now();
  double wall = 0;
  loop.longestTurnMs = 0;
  if (service) {
    service->indexAllApps([&](std::vector<pilvo::tracking::IndexedApp> answer) {
      wall = msSince(t0);
      apps = answer.size();
      loop.quit();
    });
  } else {
    auto stop = loop.addTimer(idleSeconds, false, [&] { loop.quit(); });
    loop.run();
    return {0, longest, 0};
  }
  loop.run();
  return {wall, longest, apps, loop.longestTurnMs};
}

std::string run(const std::string& command) { return pilvo::testing::runShell(command).output; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PATH/TO/pilvo PATH/TO/pilvoctl [entries]\n", argv[0]);
    return 2;
  }
  const std::string pilvo = argv[1], pilvoctl = argv[2];
  const int entries = argc > 3 ? std::atoi(argv[3]) : 500;

  char rootTemplate[] = "/tmp/pilvo-index-bench-XXXXXX";
  const std::string root = mkdtemp(rootTemplate);
  const std::string data = root + "/data";
  makeFixture(data, entries);
  g_mkdir_with_parents((root + "/run").c_str(), 0700);
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "no X display; run under scripts/with-x-session.sh\n");
    return 1;
  }

  std::printf("%d menu entries with theme icons (half PNG, half SVG)\n\n", entries);
  {
    pilvo::GlibEventLoop glibLoop;
    TimedLoop loop(glibLoop);
    pilvo::tracking::GioAppIndexPlatform platform("com.pilvo.Pilvo",
                                                  pilvo::host::lookupThemeIconFile);
    pilvo::tracking::AppIndexService service(platform, loop, [](std::string_view) {});
    const CallFigures idle = measureCall(loop, nullptr, 1.0);
    // The host loads GTK's icon theme at start-up for its own window; so does
    // this process, and the load is timed on its own.
    const Steady::time_point themeStart = Steady::now();
    pilvo::host::lookupThemeIconFile("com.pilvo.Pilvo");
    const double themeLoadMs = msSince(themeStart);
    const CallFigures first = measureCall(loop, &service);
    const long peakFirst = statusKb(getpid(), "VmHWM");
    const CallFigures second = measureCall(loop, &service);
    std::printf("in process (GTK initialised, GLib main loop)\n");
    std::printf("  %-30s %9s %14s %14s\n", "", "wall", "longest turn", "longest hold");
    std::printf("  %-30s %9s %14s %11.2f ms\n", "idle loop, 1 s", "", "", idle.longestHoldMs);
    std::printf("  %-30s %9s %11.2f ms\n", "GTK icon theme load (start-up)", "", themeLoadMs);
    for (const auto& [label, f] : {std::pair("first call (icons rendered)", first),
                                   std::pair("second call (icons present)", second)}) {
      std::printf("  %-30s %6.1f ms %11.2f ms %11.2f ms   (%zu apps)\n", label, f.wallMs,
                  f.longestTurnMs, f.longestHoldMs, f.apps);
    }
    std::printf("  peak resident memory of this process: %.1f MB\n\n", peakFirst / 1024.0);
  }

  // The real host on the same data, with no icons written yet.
  run("rm -rf '" + data + "/app_icons'");
  const pid_t host = fork();
  if (host == 0) {
    execl(pilvo.c_str(), pilvo.c_str(), nullptr);
    _exit(127);
  }
  const std::string socket = root + "/run/pilvo/host.sock";
  const std::string call =
      "'" + pilvoctl + "' --socket '" + socket + "' --timeout 60 call com.tavik/tracking ";
  for (int i = 0; i < 1500 && access(socket.c_str(), F_OK) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let start-up settle
  const long rssStart = statusKb(host, "VmRSS"), peakStart = statusKb(host, "VmHWM");
  auto timed = [&](const char* method) {
    const Steady::time_point t0 = Steady::now();
    const std::string out = run(call + method);
    return std::pair(msSince(t0), out.size());
  };
  const auto trivial = timed("getAppSupportPath");
  const auto first = timed("indexAllApps");
  const long rssFirst = statusKb(host, "VmRSS"), peakFirst = statusKb(host, "VmHWM");
  const auto second = timed("indexAllApps");
  const long rssSecond = statusKb(host, "VmRSS"), peakSecond = statusKb(host, "VmHWM");
  const std::string icons = run("ls '" + data + "/app_icons' | wc -l");
  std::printf("real host through pilvoctl\n");
  std::printf("  getAppSupportPath (pilvoctl start + round trip)  %6.1f ms\n", trivial.first);
  std::printf("  indexAllApps, first call                         %6.1f ms  (%zu bytes)\n",
              first.first, first.second);
  std::printf("  indexAllApps, second call                        %6.1f ms  (%zu bytes)\n",
              second.first, second.second);
  std::printf("  icon files written: %s", icons.c_str());
  std::printf(
      "  host resident / peak: after start %.1f / %.1f MB, after first call %.1f / %.1f MB,"
      " after second %.1f / %.1f MB\n",
      rssStart / 1024.0, peakStart / 1024.0, rssFirst / 1024.0, peakFirst / 1024.0,
      rssSecond / 1024.0, peakSecond / 1024.0);
  kill(host, SIGTERM);
  int status = 0;
  waitpid(host, &status, 0);
  run("rm -rf '" + root + "'");
  return 0;
}
