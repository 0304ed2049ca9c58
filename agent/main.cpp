// pilvo-agent: records the application in front, window titles and idle time
// into the event store until SIGTERM or SIGINT. No arguments, no options.
//
// The desktop is chosen at start: in a Wayland session whose compositor
// offers the wlroots foreign-toplevel protocol, the Wayland backend; else X11
// (in a Wayland session with a warning, since X11 sees only XWayland windows).
#include <glib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>

#include "agent/agent_runner.h"
#include "agent/constants.h"
#include "agent/logind_sleep_notifications.h"
#include "common/glib_event_loop.h"
#include "x11/x11_platform.h"
#ifdef PILVO_HAVE_WAYLAND
#include "wayland/wayland_platform.h"
#endif

namespace {

using pilvo::agent::AgentPlatform;
using pilvo::agent::LogindSleepNotifications;

class X11AgentPlatform final : public AgentPlatform {
 public:
  X11AgentPlatform(std::unique_ptr<pilvo::x11::X11Platform> x11,
                   std::unique_ptr<LogindSleepNotifications> sleep)
      : x11_(std::move(x11)), sleep_(std::move(sleep)) {}
  pilvo::Workspace& workspace() override { return x11_->workspace(); }
  pilvo::InputIdleness& idleness() override { return x11_->idleness(); }
  pilvo::Accessibility& accessibility() override { return x11_->accessibility(); }
  pilvo::SleepNotifications* sleepNotifications() override { return sleep_.get(); }
  void setConnectionLostHandler(std::function<void()> handler) override {
    x11_->setDisplayLostHandler(std::move(handler));
  }

 private:
  std::unique_ptr<pilvo::x11::X11Platform> x11_;
  std::unique_ptr<LogindSleepNotifications> sleep_;
};

#ifdef PILVO_HAVE_WAYLAND
class WaylandAgentPlatform final : public AgentPlatform {
 public:
  WaylandAgentPlatform(std::unique_ptr<pilvo::wayland::WaylandPlatform> wayland,
                       std::unique_ptr<LogindSleepNotifications> sleep)
      : wayland_(std::move(wayland)), sleep_(std::move(sleep)) {}
  pilvo::Workspace& workspace() override { return wayland_->workspace(); }
  pilvo::InputIdleness& idleness() override { return wayland_->idleness(); }
  pilvo::Accessibility& accessibility() override { return wayland_->accessibility(); }
  pilvo::SleepNotifications* sleepNotifications() override { return sleep_.get(); }
  void setConnectionLostHandler(std::function<void()> handler) override {
    wayland_->setConnectionLostHandler(std::move(handler));
  }
  std::string connectionLostMessage() const override {
    return "Lost the connection to the Wayland compositor, shutting down";
  }

 private:
  std::unique_ptr<pilvo::wayland::WaylandPlatform> wayland_;
  std::unique_ptr<LogindSleepNotifications> sleep_;
};
#endif

std::unique_ptr<LogindSleepNotifications> connectSleep(pilvo::agent::Logger& logger) {
  std::string busError;
  auto sleep = LogindSleepNotifications::connect(&busError);
  if (!sleep) logger.log("No system bus, so sleeps are not recorded (" + busError + ")");
  return sleep;
}

}  // namespace

int main() {
  // The agent only appends; SQLite's page cache would otherwise grow to its
  // 2 MB default over a few days of switches and buy nothing. A soft limit on
  // SQLite's heap makes it recycle cache pages instead.
  sqlite3_soft_heap_limit64(pilvo::agent::kSqliteHeapLimitBytes);
  pilvo::GlibEventLoop loop;
  const pilvo::agent::AgentPaths paths = pilvo::agent::defaultAgentPaths();
  pilvo::agent::Logger logger(paths.logPath, loop);
  return pilvo::agent::runAgent(
      loop, logger, paths,
      [&](std::string* error) -> std::unique_ptr<AgentPlatform> {
        const char* waylandDisplay = g_getenv("WAYLAND_DISPLAY");
        std::string waylandError;
#ifdef PILVO_HAVE_WAYLAND
        if (waylandDisplay && *waylandDisplay) {
          // The compositor says "idle" after this long without input; it must
          // be well below the threshold for the idle check to see the pause.
          const double idleTimeout =
              std::min(pilvo::wayland::WaylandInputIdleness::kDefaultTimeoutSeconds,
                       pilvo::agent::kIdleThresholdSeconds / 2);
          auto wayland =
              pilvo::wayland::WaylandPlatform::open(loop, &waylandError, "", idleTimeout);
          if (wayland) {
            logger.log("Desktop: Wayland (" + std::string(waylandDisplay) +
                       ", foreign-toplevel protocol, idle from " + wayland->idleProtocolName() +
                       ")");
            for (const std::string& warning : wayland->warnings()) {
              logger.log("Warning: " + warning);
            }
            return std::make_unique<WaylandAgentPlatform>(std::move(wayland), connectSleep(logger));
          }
        }
#else
        waylandError = "this build has no Wayland backend";
#endif
        auto x11 = pilvo::x11::X11Platform::open(loop, error);
        if (!x11) {
          if (!waylandError.empty()) *error += "; and Wayland: " + waylandError;
          return nullptr;
        }
        logger.log("Desktop: X11 (" + std::string(g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "") +
                   ")");
        for (const std::string& warning : x11->warnings()) logger.log("Warning: " + warning);
        const std::string wayland =
            pilvo::agent::waylandSessionWarning(waylandDisplay, g_getenv("XDG_SESSION_TYPE"));
        if (!wayland.empty()) {
          logger.log(wayland);
          if (!waylandError.empty()) {
            logger.log("The Wayland backend is not used: " + waylandError);
          }
        }
        return std::make_unique<X11AgentPlatform>(std::move(x11), connectSleep(logger));
      },
      static_cast<int32_t>(getpid()));
}
