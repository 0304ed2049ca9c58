// Cost of listening to raw input and window events: CPU time and wakeups of a
// process that runs only the X11 platform pieces the agent keeps alive
// (X11InputIdleness + X11Workspace on the GLib loop), over an untouched
// desktop and over continuous pointer motion.
//
//   scripts/with-x-session.sh build/bench/agent_input_bench [seconds] [events-per-second]
//
// Defaults: 60 s per phase, 100 motion events/s. The motion comes from a child
// process that sends XTest relative pointer motion (what `xdotool
// mousemove_relative` sends), paced by the monotonic clock.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <glib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "common/glib_event_loop.h"
#include "x11/x11_platform.h"

namespace {

struct Usage {
  double cpuSeconds = 0;
  long voluntarySwitches = 0;
  long involuntarySwitches = 0;
};

Usage usageNow() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  Usage out;
  out.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  out.voluntarySwitches = usage.ru_nvcsw;
  out.involuntarySwitches = usage.ru_nivcsw;
  return out;
}

// Child: `rate` relative motions a second, alternating right and left, until killed.
[[noreturn]] void generateMotion(double rate) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) _exit(1);
  const gint64 period = static_cast<gint64>(1e6 / rate);
  gint64 next = g_get_monotonic_time();
  for (int step = 0;; ++step) {
    XTestFakeRelativeMotionEvent(display, (step % 2) ? -3 : 3, 1 - 2 * (step % 2), CurrentTime);
    XFlush(display);
    next += period;
    const gint64 wait = next - g_get_monotonic_time();
    if (wait > 0) g_usleep(static_cast<gulong>(wait));
  }
}

struct Phase {
  const char* name;
  double seconds;
  Usage used;
  uint64_t rawEvents;
};

Phase runPhase(const char* name, double seconds, pilvo::GlibEventLoop& loop,
               pilvo::x11::X11Platform& platform, pilvo::x11::X11InputIdleness& idleness) {
  (void)platform;
  const uint64_t eventsBefore = idleness.rawEventsSeen();
  const Usage before = usageNow();
  auto stop = loop.addTimer(seconds, false, [&] { loop.quit(); });
  loop.run();
  const Usage after = usageNow();
  return Phase{name, seconds,
               Usage{after.cpuSeconds - before.cpuSeconds,
                     after.voluntarySwitches - before.voluntarySwitches,
                     after.involuntarySwitches - before.involuntarySwitches},
               idleness.rawEventsSeen() - eventsBefore};
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  const double rate = argc > 2 ? std::atof(argv[2]) : 100.0;
  if (seconds <= 0 || rate <= 0) {
    std::fprintf(stderr, "usage: %s [seconds] [events-per-second]\n", argv[0]);
    return 2;
  }
  pilvo::GlibEventLoop loop;
  std::string error;
  auto platform = pilvo::x11::X11Platform::open(loop, &error);
  if (!platform) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  auto& idleness = static_cast<pilvo::x11::X11InputIdleness&>(platform->idleness());
  if (!idleness.available()) {
    std::fprintf(stderr, "%s\n", idleness.problem().c_str());
    return 1;
  }
  // Let start-up traffic settle before measuring.
  auto settle = loop.addTimer(0.5, false, [&] { loop.quit(); });
  loop.run();

  const Phase idle = runPhase("untouched desktop", seconds, loop, *platform, idleness);
  const pid_t mover = fork();
  if (mover == 0) generateMotion(rate);
  const Phase motion = runPhase("pointer motion", seconds, loop, *platform, idleness);
  kill(mover, SIGTERM);
  waitpid(mover, nullptr, 0);

  std::printf("| phase | seconds | raw events/s | CPU time | CPU (one core) | wakeups/s |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const Phase& p : {idle, motion}) {
    std::printf("| %s | %.0f | %.1f | %.1f ms | %.3f %% | %.2f |\n", p.name, p.seconds,
                static_cast<double>(p.rawEvents) / p.seconds, p.used.cpuSeconds * 1000.0,
                100.0 * p.used.cpuSeconds / p.seconds,
                static_cast<double>(p.used.voluntarySwitches) / p.seconds);
  }
  return 0;
}
