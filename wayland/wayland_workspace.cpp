#include "wayland/wayland_workspace.h"

namespace pilvo::wayland {

WaylandWorkspace::WaylandWorkspace(ToplevelList& toplevels)
    : toplevels_(toplevels), front_(toplevels.frontmostApplication()) {
  listener_ = toplevels_.addListener(ToplevelList::Listener{
      .activeToplevelChanged =
          [this](ToplevelId, const std::optional<RunningApp>& app) { activeToplevelChanged(app); },
      .appTerminated = [this](const RunningApp& app) { appTerminated(app); },
  });
}

std::optional<RunningApp> WaylandWorkspace::frontmostApplication() {
  return toplevels_.frontmostApplication();
}

void WaylandWorkspace::activeToplevelChanged(const std::optional<RunningApp>& app) {
  if (!app) return;
  if (front_ && front_->sameApplication(*app)) return;
  front_ = app;
  if (observer_) observer_->appDidActivate(*app);
}

void WaylandWorkspace::appTerminated(const RunningApp& app) {
  if (front_ && front_->sameApplication(app)) front_.reset();
  if (observer_) observer_->appDidTerminate(app);
}

}  // namespace pilvo::wayland
