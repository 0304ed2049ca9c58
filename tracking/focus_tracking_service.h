// The behaviour behind the tracking channel: reads the desktop afresh on every
// question and brings applications to the front a short moment after being
// asked, so the answer reaches the interface before the focus moves.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/agent_platform.h"
#include "common/event_loop.h"
#include "tracking/tracking_platform.h"

namespace pilvo::tracking {

// Delay between "activateApp" being answered and the activation.
inline constexpr double kActivationDelaySeconds = 0.2;
// Answer of "getActiveAppName" when no name can be found.
inline constexpr const char* kUnknownAppName = "Unknown";

class FocusTrackingService {
 public:
  // All three must outlive the service. `accessibility` is the same trust
  // facility the agent uses.
  FocusTrackingService(TrackingPlatform& platform, Accessibility& accessibility, EventLoop& loop);
  ~FocusTrackingService();
  FocusTrackingService(const FocusTrackingService&) = delete;
  FocusTrackingService& operator=(const FocusTrackingService&) = delete;

  // Localized name of the frontmost application, or "Unknown".
  std::string activeAppName();
  // Every running application in desktop order; this program is listed
  // exactly once while it runs, window shown or not (in its windows' place,
  // else last), with its own name, process and regular policy.
  std::vector<RunningApp> runningApplications();
  // Identifiers of every running application that has one, in desktop order,
  // duplicates kept, this program included.
  std::vector<std::string> allRunningAppIds();
  // Identifiers of running regular applications other than this program.
  std::vector<std::string> runningRegularAppIds();
  std::string appSupportPath();
  // Brings the application to the front (or launches it) kActivationDelaySeconds
  // from now. An identifier that names nothing does nothing then.
  void scheduleActivation(std::string bundleId);
  bool hasPermissions();
  // Asks the desktop to let the user grant trust, unless it is already granted.
  void requestPermissions();

  size_t pendingActivations() const;

 private:
  struct Pending;
  void activateNow(const std::string& bundleId);

  TrackingPlatform& platform_;
  Accessibility& accessibility_;
  EventLoop& loop_;
  std::vector<std::unique_ptr<Pending>> pending_;
  std::shared_ptr<bool> alive_;
};

}  // namespace pilvo::tracking
