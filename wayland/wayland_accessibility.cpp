#include "wayland/wayland_accessibility.h"

#include <algorithm>

namespace pilvo::wayland {

struct WaylandAccessibility::Watched {
  RunningApp app;
  AccessibilityCallback callback;
  bool attached = true;
};

class WaylandAccessibility::Observer final : public AccessibilityObserver {
 public:
  Observer(WaylandAccessibility& owner, std::shared_ptr<Watched> watched)
      : owner_(owner), watched_(std::move(watched)) {}
  ~Observer() override {
    watched_->attached = false;
    std::erase(owner_.observers_, watched_);
  }

 private:
  WaylandAccessibility& owner_;
  std::shared_ptr<Watched> watched_;
};

WaylandAccessibility::WaylandAccessibility(ToplevelList& toplevels)
    : toplevels_(toplevels),
      lastActive_(toplevels.activeToplevel()),
      lastActiveApp_(toplevels.frontmostApplication()) {
  listener_ = toplevels_.addListener(ToplevelList::Listener{
      .activeToplevelChanged =
          [this](ToplevelId toplevel, const std::optional<RunningApp>& app) {
            activeToplevelChanged(toplevel, app);
          },
      .titleChanged = [this](ToplevelId toplevel,
                             const RunningApp& app) { titleChanged(toplevel, app); },
  });
}

WaylandAccessibility::~WaylandAccessibility() = default;

std::optional<std::string> WaylandAccessibility::focusedWindowTitle(const RunningApp& app) {
  const std::optional<RunningApp> front = toplevels_.frontmostApplication();
  if (front && front->sameApplication(app)) return toplevels_.titleOf(front->window);
  const std::vector<ToplevelId> ids = toplevels_.toplevelsOf(app);
  if (ids.empty()) return std::nullopt;
  return toplevels_.titleOf(ids.front());
}

std::optional<std::string> WaylandAccessibility::titleOf(ElementRef element) {
  return toplevels_.titleOf(element);
}

std::unique_ptr<AccessibilityObserver> WaylandAccessibility::createObserver(
    const RunningApp& app, AccessibilityCallback callback) {
  if (toplevels_.toplevelsOf(app).empty()) return nullptr;
  auto watched = std::make_shared<Watched>(Watched{app, std::move(callback)});
  observers_.push_back(watched);
  return std::make_unique<Observer>(*this, std::move(watched));
}

void WaylandAccessibility::activeToplevelChanged(ToplevelId toplevel,
                                                 const std::optional<RunningApp>& app) {
  if (!app) return;  // nothing activated: the last toplevel stands
  const ToplevelId previous = lastActive_;
  const std::optional<RunningApp> previousApp = lastActiveApp_;
  lastActive_ = toplevel;
  lastActiveApp_ = app;
  // A move inside the application, also when the previous toplevel closed.
  if (previous == toplevel || !previousApp || !previousApp->sameApplication(*app)) return;
  notifyObservers(*app, toplevel, kFocusedWindowChanged);
}

void WaylandAccessibility::titleChanged(ToplevelId toplevel, const RunningApp& app) {
  notifyObservers(app, toplevel, kTitleChanged);
}

void WaylandAccessibility::notifyObservers(const RunningApp& app, ToplevelId toplevel,
                                           std::string_view notification) {
  // Copies: a callback may drop its own observer.
  const auto observers = observers_;
  for (const auto& watched : observers) {
    if (watched->attached && watched->app.sameApplication(app)) {
      watched->callback(toplevel, notification);
    }
  }
}

}  // namespace pilvo::wayland
