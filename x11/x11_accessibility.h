// Window titles and their observation on X11. Any X client may read window
// titles, so trust is always granted.
//
// An observer watches PropertyChangeMask on the application's managed
// windows (and on those it opens later) and reports:
// - kTitleChanged for a change of the title property. Clients commonly write
//   WM_NAME and _NET_WM_NAME together for one change; the title is
//   _NET_WM_NAME when a window has it, so WM_NAME changes of such a window are
//   not reported. A window without _NET_WM_NAME may be about to get one
//   (xdotool, for one, writes WM_NAME and then _NET_WM_NAME in two requests):
//   its WM_NAME change is held back for `twinWaitSeconds` and dropped when
//   _NET_WM_NAME follows, so one change gives one notification.
// - kFocusedWindowChanged when the active window moves to another window of
//   the application (the element is the new window).
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "agent/agent_platform.h"
#include "x11/x11_desktop.h"

namespace pilvo::x11 {

class X11Accessibility final : public Accessibility {
 public:
  static constexpr double kTwinWaitSeconds = 0.05;

  explicit X11Accessibility(X11Desktop& desktop, double twinWaitSeconds = kTwinWaitSeconds);
  ~X11Accessibility() override;

  bool isProcessTrusted() override { return true; }
  void requestTrust() override {}
  // The active window's title when it belongs to `app`, else that of the
  // application's most recently active window, else its first window's.
  std::optional<std::string> focusedWindowTitle(const RunningApp& app) override;
  // nullopt when the window has no title or no longer exists.
  std::optional<std::string> titleOf(ElementRef element) override;
  // nullptr when the application has no process id or none of its windows
  // can be watched.
  std::unique_ptr<AccessibilityObserver> createObserver(const RunningApp& app,
                                                        AccessibilityCallback callback) override;

  size_t liveObserverCount() const { return observers_.size(); }

 private:
  struct Watched;
  class Observer;
  friend class Observer;

  void onEvent(XEvent& event);
  void activeWindowChanged(Window window, const std::optional<RunningApp>& app);
  void windowAdded(Window window, const RunningApp& app);
  void windowRemoved(Window window);
  void holdBackLegacyChange(const std::shared_ptr<Watched>& observer, Window window);
  bool watch(Watched& observer, Window window);
  void detach(Watched* observer);

  X11Desktop& desktop_;
  XConnection& connection_;
  double twinWaitSeconds_;
  std::vector<std::shared_ptr<Watched>> observers_;
  // Order in which windows were last active (higher = more recent).
  std::map<Window, uint64_t> focusOrder_;
  uint64_t focusCounter_ = 0;
  std::unique_ptr<EventSource> eventHandler_;
  std::unique_ptr<EventSource> listener_;
  std::shared_ptr<bool> alive_;
};

}  // namespace pilvo::x11
