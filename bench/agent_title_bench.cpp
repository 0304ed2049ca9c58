// A window that renames itself 1,000 times a second, in front, while the agent
// records: does the agent keep up, does memory stay flat, and are other events
// (a switch to another application) still recorded promptly?
//
//   scripts/with-x-session.sh build/bench/agent_title_bench build/agent/pilvo-agent [seconds] [rate]
//
// Every title carries the moment it was set, so each "windowChange" row tells
// its own notification-to-row latency (as seen by a reader polling the store).
#include <X11/Xatom.h>

#include <atomic>

#include "bench/agent_bench_support.h"

using namespace pilvo::bench;

namespace {

double nowMs() {
  return std::chrono::duration<double, std::milli>(Steady::now().time_since_epoch()).count();
}

void setTitle(Display* dpy, Window w, const std::string& title) {
  XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_NAME", False),
                  XInternAtom(dpy, "UTF8_STRING", False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title.data()),
                  static_cast<int>(title.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH/TO/pilvo-agent [seconds] [rate]\n", argv[0]);
    return 2;
  }
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10;
  const int rate = argc > 3 ? std::atoi(argv[3]) : 1000;
  BenchDesktop desktop(argv[1], "PilvoBenchFlood", "PilvoBenchOther");
  Display* dpy = desktop.dpy;
  const Window flood = desktop.a;
  const Window other = desktop.b;
  AgentUnderTest& agent = *desktop.agent;
  const long rssStart = statusField(agent.pid(), "VmRSS");

  // Reader: every new row, with the latency its title tells.
  std::atomic<bool> reading{true};
  std::vector<double> latencyMs;
  long long switchRowSeenAtId = 0;
  double switchSeenMs = 0;
  long windowChangeRows = 0;
  std::thread reader([&] {
    long long last = agent.maxId();
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(agent.db(), "SELECT id, type, window_title FROM events WHERE id > ? ORDER BY id",
                       -1, &s, nullptr);
    while (reading) {
      sqlite3_bind_int64(s, 1, last);
      const double seen = nowMs();
      while (sqlite3_step(s) == SQLITE_ROW) {
        last = sqlite3_column_int64(s, 0);
        const std::string type = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
        const char* title = reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
        if (type == "windowChange" && title && std::atof(title) > 0) {
          ++windowChangeRows;
          latencyMs.push_back(seen - std::atof(title));
        } else if (type == "appSwitch" && !switchRowSeenAtId) {
          switchRowSeenAtId = last;
          switchSeenMs = seen;
        }
      }
      sqlite3_reset(s);
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    sqlite3_finalize(s);
  });

  const Usage u0 = usage(agent.pid());
  const long total = static_cast<long>(seconds * rate);
  const auto period = std::chrono::duration<double>(1.0 / rate);
  auto next = Steady::now();
  double switchAskedMs = 0;
  for (long i = 0; i < total; ++i) {
    setTitle(dpy, flood, std::to_string(nowMs()) + " ms, title " + std::to_string(i));
    XFlush(dpy);
    if (i == total / 2) {  // halfway another application comes to the front...
      switchAskedMs = nowMs();
      requestActivation(dpy, other);
    }
    if (i == 3 * total / 4) requestActivation(dpy, flood);  // ...and later the flood's again
    next += std::chrono::duration_cast<Steady::duration>(period);
    std::this_thread::sleep_until(next);
  }
  XSync(dpy, False);
  const double sentMs = nowMs();
  // Let the agent finish what the server delivered (bounded).
  for (int i = 0; i < 100; ++i) {
    const long before = windowChangeRows;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (windowChangeRows == before && i > 5) break;
  }
  const double doneMs = nowMs();
  const Usage u1 = usage(agent.pid());
  const long rssEnd = statusField(agent.pid(), "VmRSS");
  reading = false;
  reader.join();
  const int status = agent.stop();

  const double activeSeconds = (doneMs - (sentMs - seconds * 1000)) / 1000.0;
  std::printf("titles set                         %ld over %.0f s (%d/s)\n", total, seconds, rate);
  std::printf("windowChange rows                  %ld\n", windowChangeRows);
  std::printf("rows per second over the whole run %.0f (the window is in front 3/4 of it)\n",
              static_cast<double>(windowChangeRows) / activeSeconds);
  std::printf("title -> row latency  median       %.2f ms\n", percentile(latencyMs, 0.5));
  std::printf("title -> row latency  p99          %.2f ms\n", percentile(latencyMs, 0.99));
  std::printf("title -> row latency  max          %.2f ms\n", percentile(latencyMs, 1.0));
  std::printf("switch during the flood -> row     %.2f ms\n",
              switchRowSeenAtId ? switchSeenMs - switchAskedMs : -1.0);
  std::printf("agent cpu during the flood         %.2f s (%.0f %% of one core)\n", u1.cpu - u0.cpu,
              100 * (u1.cpu - u0.cpu) / activeSeconds);
  std::printf("resident memory before / after     %ld / %ld kB\n", rssStart, rssEnd);
  std::printf("agent exit status                  %d\n", status);
  return 0;
}
