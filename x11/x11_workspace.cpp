#include "x11/x11_workspace.h"

namespace pilvo::x11 {

X11Workspace::X11Workspace(X11Desktop& desktop)
    : desktop_(desktop), front_(desktop.frontmostApplication()) {
  listener_ = desktop_.addListener(X11Desktop::Listener{
      .activeWindowChanged =
          [this](uint64_t, const std::optional<RunningApp>& app) { activeWindowChanged(app); },
      .appTerminated = [this](const RunningApp& app) { appTerminated(app); },
  });
}

std::optional<RunningApp> X11Workspace::frontmostApplication() {
  return desktop_.frontmostApplication();
}

void X11Workspace::activeWindowChanged(const std::optional<RunningApp>& app) {
  if (!app) return;
  if (front_ && front_->sameApplication(*app)) return;
  front_ = app;
  if (observer_) observer_->appDidActivate(*app);
}

void X11Workspace::appTerminated(const RunningApp& app) {
  if (front_ && front_->sameApplication(app)) front_.reset();
  if (observer_) observer_->appDidTerminate(app);
}

}  // namespace pilvo::x11
