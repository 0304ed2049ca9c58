// Accessibility with trust, titles and observers controlled by the test.
// Like the desktop, it keys everything by application, not by process: two
// applications may share a process and one application may span several.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/agent_platform.h"

namespace pilvo::testing {

class FakeAccessibility final : public Accessibility {
 public:
  FakeAccessibility();
  ~FakeAccessibility() override;

  bool isProcessTrusted() override { return trusted_; }
  void requestTrust() override { ++trustRequests_; }
  std::optional<std::string> focusedWindowTitle(const RunningApp& app) override;
  std::optional<std::string> titleOf(ElementRef element) override;
  // Fails (nullptr) while observer creation is switched off, like the real
  // platform does for an application without a process id.
  std::unique_ptr<AccessibilityObserver> createObserver(const RunningApp& app,
                                                        AccessibilityCallback callback) override;

  // Test controls. Trusted until told otherwise, as on X11.
  void setTrusted(bool trusted) { trusted_ = trusted; }
  // Title of the application's focused window; nullopt = none.
  void setFocusedTitle(const RunningApp& app, std::optional<std::string> title);
  // Title of one element (window); nullopt = the element has no title.
  void setTitle(ElementRef element, std::optional<std::string> title);
  void setObserverCreationSucceeds(bool succeeds) { observerCreationSucceeds_ = succeeds; }

  // Delivers a notification to every live observer; returns how many got it.
  int emitNotification(ElementRef element, std::string_view name);
  // Delivers only to live observers of `app`, as the desktop does for a
  // window of that application.
  int emitNotificationFor(const RunningApp& app, ElementRef element, std::string_view name);

  int liveObserverCount() const;
  // Identifiers of the applications the live observers watch, oldest first.
  std::vector<std::optional<std::string>> observedIds() const;
  int observersCreated() const { return observersCreated_; }
  int trustRequests() const { return trustRequests_; }

 private:
  class Observer;
  struct Registry;

  int deliver(const std::optional<RunningApp>& app, ElementRef element, std::string_view name);

  bool trusted_ = true;
  bool observerCreationSucceeds_ = true;
  int observersCreated_ = 0;
  int trustRequests_ = 0;
  std::vector<std::pair<RunningApp, std::optional<std::string>>> focusedTitles_;
  std::map<ElementRef, std::optional<std::string>> titles_;
  // Shared with the observers so one that outlives this object detaches safely.
  std::shared_ptr<Registry> registry_;
};

}  // namespace pilvo::testing
