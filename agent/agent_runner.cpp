#include "agent/agent_runner.h"

#include <glib.h>

#include <csignal>
#include <optional>
#include <string_view>

#include "agent/agent_database.h"
#include "agent/agent_monitor.h"
#include "agent/constants.h"
#include "agent/instance_lock.h"

namespace pilvo::agent {

AgentPaths defaultAgentPaths() {
  AgentPaths paths;
  paths.supportDir = std::string(g_get_user_data_dir()) + "/" + kSupportDirName;
  paths.logPath = std::string(g_get_user_state_dir()) + "/" + kLogFileName;
  return paths;
}

std::string waylandSessionWarning(const char* waylandDisplay, const char* sessionType) {
  const bool wayland = (waylandDisplay && *waylandDisplay) ||
                       (sessionType && std::string_view(sessionType) == "wayland");
  if (!wayland) return {};
  return "Warning: this is a Wayland session and only X11 (XWayland) applications are seen: "
         "time in native Wayland applications counts for the last X11 application in front, "
         "and typing in them counts as idle";
}

int runAgent(EventLoop& loop, Logger& logger, const AgentPaths& paths,
             const PlatformConnector& connect, int32_t pid) {
  // The process-wide store and monitor of the running agent; the shutdown
  // sequence touches only what exists.
  std::unique_ptr<AgentDatabase> globalDatabase;
  std::unique_ptr<AgentMonitor> globalMonitor;

  // One agent per user, or every row is written twice. Taken before the
  // display and the store are touched; a normal start logs nothing for it.
  InstanceLock::Attempt instance = InstanceLock::acquire(paths.supportDir, pid);
  // Only the agent that runs may move the log; it does so before its first line.
  if (instance.lock) logger.rotateIfLarge();

  logger.log("PilvoAgent starting (pid " + std::to_string(pid) + ")");
  if (instance.heldElsewhere) {
    logger.log("Another pilvo-agent is already running" +
               (instance.holderPid ? " (pid " + std::to_string(*instance.holderPid) + ")"
                                   : std::string()) +
               "; exiting");
    return kExitAlreadyRunning;
  }
  if (!instance.lock) {
    // The support directory holds the store too: same failure, same status.
    logger.log("Fatal error: " + instance.error);
    return kExitStoreUnavailable;
  }

  std::string connectError;
  std::unique_ptr<AgentPlatform> platform = connect(&connectError);
  if (!platform) {
    logger.log("Fatal error: " + connectError);
    return kExitNoDisplay;
  }

  if (!platform->accessibility().isProcessTrusted()) {
    logger.log("Not trusted for Accessibility \u2014 requesting permission");
    platform->accessibility().requestTrust();
  }

  int exitStatus = kExitStopped;
  SleepNotifications* sleep = platform->sleepNotifications();
  auto shutdown = [&](const char* reason, int status) {
    logger.log(reason);
    if (sleep) sleep->setHandler({});
    if (globalMonitor) globalMonitor->stop();
    if (globalDatabase && globalDatabase->isOpen()) globalDatabase->close();
    exitStatus = status;
    loop.quit();
  };
  // Signals arrive as loop sources: the shutdown runs between callbacks,
  // never inside a signal handler.
  auto onTerm = loop.addSignal(SIGTERM, [&] {
    shutdown("Received termination signal, shutting down", kExitStopped);
  });
  auto onInt = loop.addSignal(SIGINT, [&] {
    shutdown("Received termination signal, shutting down", kExitStopped);
  });
  bool displayLost = false;
  const std::string lostMessage = platform->connectionLostMessage();
  platform->setConnectionLostHandler([&] {
    if (displayLost) return;
    displayLost = true;
    shutdown(lostMessage.c_str(), kExitDisplayLost);
  });

  try {
    globalDatabase = std::make_unique<AgentDatabase>(paths.supportDir, logger, loop);
  } catch (const AgentError& e) {
    logger.log("Fatal error: " + e.description());
    return kExitStoreUnavailable;
  }

  globalMonitor = std::make_unique<AgentMonitor>(
      *globalDatabase,
      AgentMonitor::Platform{platform->workspace(), platform->idleness(),
                             platform->accessibility()},
      loop, logger, paths.supportDir);
  globalMonitor->start();
  if (sleep) {
    AgentMonitor* monitor = globalMonitor.get();
    sleep->setHandler([monitor](bool sleeping) {
      if (sleeping) monitor->systemWillSleep();
    });
  }

  logger.log("PilvoAgent running \u2014 entering run loop");
  loop.run();
  return exitStatus;
}

}  // namespace pilvo::agent
