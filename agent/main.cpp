// pilvo-agent: records the application in front, window titles and idle time
// into the event store until SIGTERM or SIGINT. No arguments, no options.
#include <glib.h>
#include <sqlite3.h>
#include <unistd.h>

#include "agent/agent_runner.h"
#include "agent/constants.h"
#include "agent/logind_sleep_notifications.h"
#include "common/glib_event_loop.h"
#include "x11/x11_platform.h"

namespace {

class X11AgentPlatform final : public pilvo::agent::AgentPlatform {
 public:
  X11AgentPlatform(std::unique_ptr<pilvo::x11::X11Platform> x11,
                   std::unique_ptr<pilvo::agent::LogindSleepNotifications> sleep)
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
  std::unique_ptr<pilvo::agent::LogindSleepNotifications> sleep_;
};

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
      [&](std::string* error) -> std::unique_ptr<pilvo::agent::AgentPlatform> {
        auto x11 = pilvo::x11::X11Platform::open(loop, error);
        if (!x11) return nullptr;
        for (const std::string& warning : x11->warnings()) logger.log("Warning: " + warning);
        const std::string wayland = pilvo::agent::waylandSessionWarning(
            g_getenv("WAYLAND_DISPLAY"), g_getenv("XDG_SESSION_TYPE"));
        if (!wayland.empty()) logger.log(wayland);
        std::string busError;
        auto sleep = pilvo::agent::LogindSleepNotifications::connect(&busError);
        if (!sleep) logger.log("No system bus, so sleeps are not recorded (" + busError + ")");
        return std::make_unique<X11AgentPlatform>(std::move(x11), std::move(sleep));
      },
      static_cast<int32_t>(getpid()));
}
