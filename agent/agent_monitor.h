// Turns what happens on the desktop into rows of the event store: application
// switches, window-title changes of the application in front, and idle/active
// transitions; prunes taken rows once a day; keeps the trust flag file.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "agent/agent_database.h"
#include "agent/agent_platform.h"
#include "agent/logger.h"
#include "common/event_loop.h"

namespace pilvo::agent {

class AgentMonitor final : public WorkspaceObserver {
 public:
  struct Platform {
    Workspace& workspace;
    InputIdleness& idleness;
    Accessibility& accessibility;
  };

  // `supportDir` holds the trust flag file. Trust is read once, here.
  AgentMonitor(AgentDatabase& database, Platform platform, EventLoop& loop, Logger& logger,
               std::string supportDir);
  ~AgentMonitor() override;
  AgentMonitor(const AgentMonitor&) = delete;
  AgentMonitor& operator=(const AgentMonitor&) = delete;

  void start();
  void stop();

  // WorkspaceObserver.
  void appDidActivate(const RunningApp& app) override;
  void appDidTerminate(const RunningApp& app) override;

  void handleAppActivation(const RunningApp& app);

  // Window titles and trust.
  std::optional<std::string> focusedWindowTitle(const RunningApp& app);
  void setupAXObserver(const RunningApp& app);
  void cleanupAXObserver();
  void axCallback(ElementRef element, std::string_view notification);
  void writeAXTrustedFlag(bool trusted);
  void checkAXPermission();

  void checkIdle();
  // The machine is about to sleep: the user goes idle now (the idle clock
  // stops during the sleep), and stays idle after the wake until new input.
  void systemWillSleep();

  bool isIdle() const { return isIdle_; }
  bool hasAXPermission() const { return hasAXPermission_; }
  const std::optional<std::string>& lastBundleId() const { return lastBundleId_; }
  // The application the last observer was set up for, kept when setting up
  // failed; cleared when the observer is detached.
  const std::optional<RunningApp>& observedApp() const { return observedApp_; }
  bool hasObserver() const { return axObserver_ != nullptr; }
  std::string trustedFlagPath() const;

 private:
  AgentDatabase& database_;
  Platform platform_;
  EventLoop& loop_;
  Logger& logger_;
  const std::string supportDir_;

  std::unique_ptr<AccessibilityObserver> axObserver_;
  std::optional<RunningApp> observedApp_;
  std::optional<std::string> lastBundleId_;
  std::unique_ptr<EventSource> idleTimer_;
  bool isIdle_ = false;
  std::unique_ptr<EventSource> pruneTimer_;
  std::unique_ptr<EventSource> axPermissionTimer_;
  bool hasAXPermission_;
  bool observing_ = false;

  double idleSeconds();
  void enterIdle(double idle);
};

}  // namespace pilvo::agent
