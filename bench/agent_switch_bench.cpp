// End-to-end measurements of a running pilvo-agent in an X session.
//
//   scripts/with-x-session.sh build/bench/agent_switch_bench build/agent/pilvo-agent [switches] [seconds]
//
// 1. Latency from a window switch to the committed "appSwitch" row: two
//    windows of different applications take turns in front (a
//    _NET_ACTIVE_WINDOW request to the window manager, as xdotool sends it);
//    the clock stops when a reader connection sees the new row.
// 2. Resident memory after start and after `switches` (default 10,000) switches.
// 3. CPU time and wakeups (voluntary context switches) of the agent over
//    `seconds` (default 60) of an untouched desktop, then over the same time of
//    pointer motion at ~100 events/s (XTest).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <glib.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using Steady = std::chrono::steady_clock;

namespace {

Window makeWindow(Display* dpy, const char* cls) {
  Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 100, 100, 0, 0, 0);
  XClassHint hint{const_cast<char*>(cls), const_cast<char*>(cls)};
  XSetClassHint(dpy, w, &hint);
  XStoreName(dpy, w, cls);
  XMapWindow(dpy, w);
  XSync(dpy, False);
  return w;
}

void requestActivation(Display* dpy, Window w) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = 2;  // from a pager: the window manager obeys at once
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy, DefaultRootWindow(dpy), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &ev);
  XFlush(dpy);
}

long long maxId(sqlite3* db) {
  sqlite3_stmt* s = nullptr;
  long long id = 0;
  if (sqlite3_prepare_v2(db, "SELECT ifnull(max(id), 0) FROM events", -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    id = sqlite3_column_int64(s, 0);
  }
  sqlite3_finalize(s);
  return id;
}

bool waitForId(sqlite3* db, long long atLeast, double seconds = 5) {
  const auto end = Steady::now() + std::chrono::duration<double>(seconds);
  while (Steady::now() < end) {
    if (maxId(db) >= atLeast) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

long statusField(pid_t pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
  }
  return -1;
}

// User + system CPU time of `pid` in seconds.
double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  std::vector<std::string> fields;
  size_t pos = close + 2;
  while (pos < stat.size()) {
    size_t next = stat.find(' ', pos);
    fields.push_back(stat.substr(pos, next - pos));
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / ticks;
}

struct Usage {
  double cpu;
  long wakeups;
};
Usage usage(pid_t pid) {
  return {cpuSeconds(pid), statusField(pid, "voluntary_ctxt_switches") +
                               statusField(pid, "nonvoluntary_ctxt_switches")};
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH/TO/pilvo-agent [switches] [seconds]\n", argv[0]);
    return 2;
  }
  const int switches = argc > 2 ? std::atoi(argv[2]) : 10000;
  const double seconds = argc > 3 ? std::atof(argv[3]) : 60;
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "no X display: run through scripts/with-x-session.sh\n");
    return 2;
  }
  char tmpl[] = "/tmp/pilvo-switch-bench-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  Window a = makeWindow(dpy, "PilvoBenchA");
  Window b = makeWindow(dpy, "PilvoBenchB");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the window manager map them
  requestActivation(dpy, a);

  const pid_t agent = fork();
  if (agent == 0) {
    setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
    setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    if (!freopen((dir + "/agent.stderr").c_str(), "w", stderr)) _exit(126);
    execl(argv[1], "pilvo-agent", nullptr);
    _exit(127);
  }
  const std::string dbPath = dir + "/data/pilvo/agent_events.db";
  sqlite3* db = nullptr;
  for (int i = 0; i < 250 && !db; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (g_file_test(dbPath.c_str(), G_FILE_TEST_EXISTS)) sqlite3_open(dbPath.c_str(), &db);
  }
  if (!db || !waitForId(db, 1)) {
    std::fprintf(stderr, "the agent wrote no first row\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const long rssStart = statusField(agent, "VmRSS");

  std::vector<double> latencyMs;
  long long expectId = maxId(db);
  for (int i = 0; i < switches; ++i) {
    const auto t0 = Steady::now();
    requestActivation(dpy, i % 2 == 0 ? b : a);
    if (!waitForId(db, ++expectId)) {
      std::fprintf(stderr, "switch %d gave no row; agent log in %s/agent.stderr\n", i, dir.c_str());
      Atom type;
      int format;
      unsigned long n, after;
      unsigned char* data = nullptr;
      XGetWindowProperty(dpy, DefaultRootWindow(dpy), XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False), 0, 1,
                         False, XA_WINDOW, &type, &format, &n, &after, &data);
      std::fprintf(stderr, "active 0x%lx, a 0x%lx, b 0x%lx\n", data && n ? *reinterpret_cast<long*>(data) : 0L, a, b);
      return 1;
    }
    latencyMs.push_back(std::chrono::duration<double, std::milli>(Steady::now() - t0).count());
  }
  const long rssAfter = statusField(agent, "VmRSS");

  const Usage idle0 = usage(agent);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const Usage idle1 = usage(agent);

  const Usage move0 = usage(agent);
  const auto moveEnd = Steady::now() + std::chrono::duration<double>(seconds);
  long motions = 0;
  for (auto next = Steady::now(); Steady::now() < moveEnd; next += std::chrono::milliseconds(10)) {
    XTestFakeMotionEvent(dpy, -1, 200 + static_cast<int>(motions % 400), 300, CurrentTime);
    XFlush(dpy);
    ++motions;
    std::this_thread::sleep_until(next + std::chrono::milliseconds(10));
  }
  const Usage move1 = usage(agent);

  kill(agent, SIGTERM);
  int status = 0;
  waitpid(agent, &status, 0);
  sqlite3_close(db);

  double sum = 0;
  for (double v : latencyMs) sum += v;
  std::printf("switches                          %d\n", switches);
  std::printf("switch -> row latency  median     %.2f ms\n", percentile(latencyMs, 0.5));
  std::printf("switch -> row latency  p99        %.2f ms\n", percentile(latencyMs, 0.99));
  std::printf("switch -> row latency  mean       %.2f ms\n", sum / static_cast<double>(latencyMs.size()));
  std::printf("resident memory after start       %ld kB\n", rssStart);
  std::printf("resident memory after switches    %ld kB\n", rssAfter);
  std::printf("untouched %.0f s: cpu %.3f s (%.3f %%), wakeups %ld\n", seconds,
              idle1.cpu - idle0.cpu, 100 * (idle1.cpu - idle0.cpu) / seconds,
              idle1.wakeups - idle0.wakeups);
  std::printf("pointer motion %.0f s (%ld events): cpu %.3f s (%.2f %%), wakeups %ld\n", seconds,
              motions, move1.cpu - move0.cpu, 100 * (move1.cpu - move0.cpu) / seconds,
              move1.wakeups - move0.wakeups);
  std::printf("agent exit status                 %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  std::string rm = "rm -rf '" + dir + "'";
  return std::system(rm.c_str()) == 0 ? 0 : 1;
}
