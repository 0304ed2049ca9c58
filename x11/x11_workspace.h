// Workspace on an EWMH desktop: the frontmost application is the owner of
// _NET_ACTIVE_WINDOW. "Did activate" fires only when another application comes
// to the front; a move between windows of one application is not an
// activation (X11Accessibility reports it as a focused-window change).
#pragma once

#include <memory>
#include <optional>

#include "agent/agent_platform.h"
#include "x11/x11_desktop.h"

namespace pilvo::x11 {

class X11Workspace final : public Workspace {
 public:
  explicit X11Workspace(X11Desktop& desktop);

  std::optional<RunningApp> frontmostApplication() override;
  void setObserver(WorkspaceObserver* observer) override { observer_ = observer; }

 private:
  void activeWindowChanged(const std::optional<RunningApp>& app);
  void appTerminated(const RunningApp& app);

  X11Desktop& desktop_;
  WorkspaceObserver* observer_ = nullptr;
  // The last application in front. A moment without an active window (a
  // click on the desktop, a closing dialog) does not clear it, so coming back
  // to the same application is not a new activation.
  std::optional<RunningApp> front_;
  std::unique_ptr<EventSource> listener_;
};

}  // namespace pilvo::x11
