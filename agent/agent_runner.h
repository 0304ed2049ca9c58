// The agent's entry and shutdown sequences, with the desktop and the loop
// passed in so that tests can run the whole life of the process on fakes.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "agent/agent_platform.h"
#include "agent/logger.h"
#include "agent/sleep_notifications.h"
#include "common/event_loop.h"

namespace pilvo::agent {

// The desktop as the agent sees it, once connected.
class AgentPlatform {
 public:
  virtual ~AgentPlatform() = default;
  virtual Workspace& workspace() = 0;
  virtual InputIdleness& idleness() = 0;
  virtual Accessibility& accessibility() = 0;
  // Suspend and resume; nullptr when they cannot be seen (no system bus).
  virtual SleepNotifications* sleepNotifications() = 0;
  // Called on the loop when the connection to the desktop is gone for good.
  virtual void setConnectionLostHandler(std::function<void()> handler) = 0;
  // The log line for that loss.
  virtual std::string connectionLostMessage() const {
    return "Lost the connection to the X display, shutting down";
  }
};

// Connects to the desktop; on failure returns nullptr and sets `error` to a
// message that tells the user what to do.
using PlatformConnector = std::function<std::unique_ptr<AgentPlatform>(std::string* error)>;

struct AgentPaths {
  std::string supportDir;  // <data>/pilvo
  std::string logPath;     // <state>/pilvo-agent.log
};

// Paths from the XDG base directories (read through GLib, so tests redirect
// them with XDG_DATA_HOME and XDG_STATE_HOME).
AgentPaths defaultAgentPaths();

// The start-up warning for a Wayland session (`waylandDisplay` set, or
// `sessionType` "wayland"), whose native applications X11 cannot see; empty
// otherwise. Arguments are the environment's values, nullptr when unset.
std::string waylandSessionWarning(const char* waylandDisplay, const char* sessionType);

// Runs the agent until SIGTERM/SIGINT or the loss of the desktop connection
// and returns the process exit status.
int runAgent(EventLoop& loop, Logger& logger, const AgentPaths& paths,
             const PlatformConnector& connect, int32_t pid);

}  // namespace pilvo::agent
