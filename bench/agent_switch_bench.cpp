// End-to-end measurements of a running pilvo-agent in an X session.
//
//   scripts/with-x-session.sh build/bench/agent_switch_bench build/agent/pilvo-agent [switches] [seconds]
//
// 1. Latency from a window switch to the committed "appSwitch" row: two
//    windows of different applications take turns in front; the clock stops
//    when a reader connection sees the new row.
// 2. Resident memory after start and after `switches` (default 10,000) switches.
// 3. CPU time and wakeups (context switches) of the agent over `seconds`
//    (default 60) of an untouched desktop, then over the same time of pointer
//    motion at ~100 events/s (XTest).
#include <X11/extensions/XTest.h>

#include "bench/agent_bench_support.h"

using namespace pilvo::bench;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH/TO/pilvo-agent [switches] [seconds]\n", argv[0]);
    return 2;
  }
  const int switches = argc > 2 ? std::atoi(argv[2]) : 10000;
  const double seconds = argc > 3 ? std::atof(argv[3]) : 60;
  BenchDesktop desktop(argv[1], "PilvoBenchA", "PilvoBenchB");
  Display* dpy = desktop.dpy;
  const Window a = desktop.a;
  const Window b = desktop.b;
  AgentUnderTest& agent = *desktop.agent;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const long rssStart = statusField(agent.pid(), "VmRSS");
  const long anonStart = statusField(agent.pid(), "RssAnon");

  std::vector<double> latencyMs;
  long long expectId = agent.maxId();
  for (int i = 0; i < switches; ++i) {
    const auto t0 = Steady::now();
    requestActivation(dpy, i % 2 == 0 ? b : a);
    if (!agent.waitForId(++expectId)) {
      std::fprintf(stderr, "switch %d gave no row (agent log: %s/agent.stderr)\n", i,
                   agent.dir().c_str());
      return 1;
    }
    latencyMs.push_back(std::chrono::duration<double, std::milli>(Steady::now() - t0).count());
  }
  const long rssAfter = statusField(agent.pid(), "VmRSS");
  const long anonAfter = statusField(agent.pid(), "RssAnon");
  const long shmemAfter = statusField(agent.pid(), "RssShmem");
  const long fileAfter = statusField(agent.pid(), "RssFile");

  const Usage idle0 = usage(agent.pid());
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const Usage idle1 = usage(agent.pid());

  const Usage move0 = usage(agent.pid());
  const auto moveEnd = Steady::now() + std::chrono::duration<double>(seconds);
  long motions = 0;
  for (auto next = Steady::now(); Steady::now() < moveEnd; next += std::chrono::milliseconds(10)) {
    XTestFakeMotionEvent(dpy, -1, 200 + static_cast<int>(motions % 400), 300, CurrentTime);
    XFlush(dpy);
    ++motions;
    std::this_thread::sleep_until(next + std::chrono::milliseconds(10));
  }
  const Usage move1 = usage(agent.pid());
  const int status = agent.stop();

  double sum = 0;
  for (double v : latencyMs) sum += v;
  std::printf("switches                          %d\n", switches);
  std::printf("switch -> row latency  median     %.2f ms\n", percentile(latencyMs, 0.5));
  std::printf("switch -> row latency  p99        %.2f ms\n", percentile(latencyMs, 0.99));
  std::printf("switch -> row latency  max        %.2f ms\n", percentile(latencyMs, 1.0));
  std::printf("switch -> row latency  mean       %.2f ms\n",
              sum / static_cast<double>(latencyMs.size()));
  std::printf("resident memory after start       %ld kB\n", rssStart);
  std::printf("resident memory after switches    %ld kB\n", rssAfter);
  std::printf("  of which heap and stacks        %ld kB (%ld kB after start)\n", anonAfter, anonStart);
  std::printf("  of which mapped files           %ld kB (libraries, SQLite's -shm)\n", fileAfter + shmemAfter);
  std::printf("untouched %.0f s: cpu %.3f s (%.3f %%), wakeups %ld\n", seconds,
              idle1.cpu - idle0.cpu, 100 * (idle1.cpu - idle0.cpu) / seconds,
              idle1.wakeups - idle0.wakeups);
  std::printf("pointer motion %.0f s (%ld events): cpu %.3f s (%.2f %%), wakeups %ld\n", seconds,
              motions, move1.cpu - move0.cpu, 100 * (move1.cpu - move0.cpu) / seconds,
              move1.wakeups - move0.wakeups);
  std::printf("agent exit status                 %d\n", status);
  return 0;
}
