// Workspace of a Wayland session: the frontmost application is the one whose
// toplevel the compositor reports activated. "Did activate" fires only when
// another application comes to the front; a move between toplevels of one
// application is that application's focused-window change (see
// WaylandAccessibility).
#pragma once

#include <memory>
#include <optional>

#include "agent/agent_platform.h"
#include "wayland/toplevel_list.h"

namespace pilvo::wayland {

class WaylandWorkspace final : public Workspace {
 public:
  explicit WaylandWorkspace(ToplevelList& toplevels);

  std::optional<RunningApp> frontmostApplication() override;
  void setObserver(WorkspaceObserver* observer) override { observer_ = observer; }

 private:
  void activeToplevelChanged(const std::optional<RunningApp>& app);
  void appTerminated(const RunningApp& app);

  ToplevelList& toplevels_;
  WorkspaceObserver* observer_ = nullptr;
  // The last application in front. A moment without an activated toplevel (a
  // launcher or lock surface has the keyboard, an empty workspace) does not
  // clear it, so coming back to the same application is not a new activation.
  std::optional<RunningApp> front_;
  std::unique_ptr<EventSource> listener_;
};

}  // namespace pilvo::wayland
