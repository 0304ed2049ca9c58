// Window titles and their observation in a Wayland session. The compositor
// hands every toplevel's title to any client that binds the foreign-toplevel
// protocol, so trust is granted whenever that protocol is offered.
//
// An observer follows the application's toplevels (also those it opens
// later) and reports:
// - kTitleChanged when a toplevel's title changes (one per `done`, so a
//   change sent in several events gives one notification);
// - kFocusedWindowChanged when the activated toplevel moves to another
//   toplevel of the application (the element is the new toplevel).
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "agent/agent_platform.h"
#include "wayland/toplevel_list.h"

namespace pilvo::wayland {

class WaylandAccessibility final : public Accessibility {
 public:
  explicit WaylandAccessibility(ToplevelList& toplevels);
  ~WaylandAccessibility() override;

  bool isProcessTrusted() override { return true; }
  void requestTrust() override {}
  // The activated toplevel's title when it belongs to `app`, else that of the
  // application's most recently activated toplevel, else its first one's.
  std::optional<std::string> focusedWindowTitle(const RunningApp& app) override;
  // nullopt when the toplevel has no title or is gone.
  std::optional<std::string> titleOf(ElementRef element) override;
  // nullptr when the application has no toplevel.
  std::unique_ptr<AccessibilityObserver> createObserver(const RunningApp& app,
                                                        AccessibilityCallback callback) override;

  size_t liveObserverCount() const { return observers_.size(); }

 private:
  struct Watched;
  class Observer;

  void activeToplevelChanged(ToplevelId toplevel, const std::optional<RunningApp>& app);
  void titleChanged(ToplevelId toplevel, const RunningApp& app);
  // Tells the observers of `app` about `toplevel`.
  void notifyObservers(const RunningApp& app, ToplevelId toplevel, std::string_view notification);

  ToplevelList& toplevels_;
  std::vector<std::shared_ptr<Watched>> observers_;
  ToplevelId lastActive_ = 0;
  std::optional<RunningApp> lastActiveApp_;
  std::unique_ptr<EventSource> listener_;
};

}  // namespace pilvo::wayland
