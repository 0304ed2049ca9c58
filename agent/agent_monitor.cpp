#include "agent/agent_monitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "agent/constants.h"
#include "common/private_files.h"

namespace pilvo::agent {

AgentMonitor::AgentMonitor(AgentDatabase& database, Platform platform, EventLoop& loop,
                           Logger& logger, std::string supportDir)
    : database_(database),
      platform_(platform),
      loop_(loop),
      logger_(logger),
      supportDir_(std::move(supportDir)),
      hasAXPermission_(platform.accessibility.isProcessTrusted()) {}

AgentMonitor::~AgentMonitor() {
  // The workspace must never call into a destroyed monitor.
  if (observing_) platform_.workspace.setObserver(nullptr);
}

void AgentMonitor::start() {
  logger_.log("Starting app monitor");
  platform_.workspace.setObserver(this);
  observing_ = true;
  if (auto front = platform_.workspace.frontmostApplication()) handleAppActivation(*front);

  // The timers belong to the monitor: destroying it cancels them.
  idleTimer_ = loop_.addTimer(kIdleCheckInterval, true, [this] { checkIdle(); });
  pruneTimer_ = loop_.addTimer(kPruneInterval, true,
                               [this] { database_.pruneOldEvents(kPruneKeepDays); });
  axPermissionTimer_ =
      loop_.addTimer(kPermissionCheckInterval, true, [this] { checkAXPermission(); });

  writeAXTrustedFlag(hasAXPermission_);
  logger_.log(std::string("Monitor started (AX permission: ") +
              (hasAXPermission_ ? "yes" : "no \u2014 app switches only") + ")");
}

void AgentMonitor::stop() {
  platform_.workspace.setObserver(nullptr);
  observing_ = false;
  cleanupAXObserver();
  idleTimer_.reset();
  pruneTimer_.reset();
  axPermissionTimer_.reset();
  logger_.log("Monitor stopped");
}

void AgentMonitor::appDidActivate(const RunningApp& app) { handleAppActivation(app); }

void AgentMonitor::appDidTerminate(const RunningApp& app) {
  // The application, not its process: one process may serve several
  // applications, and the end of one of them must not detach another's observer.
  if (observedApp_ && observedApp_->sameApplication(app)) cleanupAXObserver();
}

void AgentMonitor::handleAppActivation(const RunningApp& app) {
  const std::string bundleId = app.bundleId.value_or("unknown");
  std::optional<std::string> title;
  if (hasAXPermission_) title = focusedWindowTitle(app);
  if (!lastBundleId_ || *lastBundleId_ != bundleId) {
    database_.insertEvent("appSwitch", bundleId, title);
    logger_.log("appSwitch: " + bundleId);
  }
  lastBundleId_ = bundleId;
  if (hasAXPermission_) setupAXObserver(app);
}

std::optional<std::string> AgentMonitor::focusedWindowTitle(const RunningApp& app) {
  return platform_.accessibility.focusedWindowTitle(app);
}

void AgentMonitor::setupAXObserver(const RunningApp& app) {
  cleanupAXObserver();
  observedApp_ = app;
  auto observer = platform_.accessibility.createObserver(
      app, [this](ElementRef element, std::string_view notification) {
        axCallback(element, notification);
      });
  if (!observer) {
    logger_.log("Failed to create AXObserver for pid " + std::to_string(app.pid));
    return;
  }
  axObserver_ = std::move(observer);
}

void AgentMonitor::cleanupAXObserver() {
  if (!axObserver_) return;
  axObserver_.reset();  // detaches from the application's windows
  observedApp_.reset();
}

void AgentMonitor::axCallback(ElementRef element, std::string_view /*notification*/) {
  // Both notifications give the same row: the title of the element they name.
  if (!lastBundleId_) return;
  database_.insertEvent("windowChange", lastBundleId_, platform_.accessibility.titleOf(element));
}

std::string AgentMonitor::trustedFlagPath() const {
  return supportDir_ + "/" + kTrustedFlagFileName;
}

void AgentMonitor::writeAXTrustedFlag(bool trusted) {
  const std::string path = trustedFlagPath();
  if (trusted) {
    if (const int fd = openPrivateFile(path, O_WRONLY | O_CREAT | O_TRUNC); fd >= 0) ::close(fd);
  } else {
    std::remove(path.c_str());
  }
}

void AgentMonitor::checkAXPermission() {
  const bool trusted = platform_.accessibility.isProcessTrusted();
  if (trusted == hasAXPermission_) return;
  if (!trusted) {
    // A withdrawal leaves an attached observer in place until its application
    // terminates or the monitor stops.
    writeAXTrustedFlag(false);
    hasAXPermission_ = false;
    return;
  }
  logger_.log("Accessibility granted \u2014 enabling window title tracking");
  writeAXTrustedFlag(true);
  hasAXPermission_ = true;
  if (auto front = platform_.workspace.frontmostApplication()) setupAXObserver(*front);
}

double AgentMonitor::idleSeconds() {
  InputIdleness& input = platform_.idleness;
  return std::min(std::min(input.secondsSinceLastEvent(InputKind::kLeftMouseDown),
                           input.secondsSinceLastEvent(InputKind::kMouseMoved)),
                  input.secondsSinceLastEvent(InputKind::kKeyDown));
}

void AgentMonitor::enterIdle(double idle) {
  isIdle_ = true;
  database_.insertEvent("idle", lastBundleId_, std::nullopt);
  // Bounded: after a sleep no input may have been seen at all (infinite).
  const auto seconds = static_cast<long long>(std::min(idle, 1e15));
  logger_.log("User went idle (" + std::to_string(seconds) + "s)");
}

void AgentMonitor::checkIdle() {
  const double idle = idleSeconds();
  if (idle >= kIdleThresholdSeconds && !isIdle_) {
    enterIdle(idle);
  } else if (idle < kIdleThresholdSeconds && isIdle_) {
    isIdle_ = false;
    database_.insertEvent("active", lastBundleId_, std::nullopt);
    logger_.log("User returned from idle");
  }
}

void AgentMonitor::systemWillSleep() {
  if (!isIdle_) enterIdle(idleSeconds());
  platform_.idleness.forgetInputSoFar();
}

}  // namespace pilvo::agent
