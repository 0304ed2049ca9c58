#include "wayland/wayland_platform.h"

namespace pilvo::wayland {

std::unique_ptr<WaylandPlatform> WaylandPlatform::open(EventLoop& loop, std::string* error,
                                                       const std::string& displayName,
                                                       double idleTimeoutSeconds) {
  std::unique_ptr<WaylandPlatform> platform(new WaylandPlatform());
  platform->index_ = std::make_unique<DesktopEntryIndex>(DesktopEntryIndex::fromEnvironment());
  platform->connection_ = WaylandConnection::open(loop, *platform->index_, displayName, error);
  if (!platform->connection_) return nullptr;
  platform->entryWatcher_ = std::make_unique<DesktopEntryWatcher>(*platform->index_, loop);
  ToplevelList& toplevels = platform->connection_->toplevels();
  platform->workspace_ = std::make_unique<WaylandWorkspace>(toplevels);
  platform->accessibility_ = std::make_unique<WaylandAccessibility>(toplevels);
  platform->idleness_ = std::make_unique<WaylandInputIdleness>(idleTimeoutSeconds);
  WaylandInputIdleness* idleness = platform->idleness_.get();
  const bool watching = platform->connection_->watchIdle(
      idleTimeoutSeconds, [idleness] { idleness->idled(); }, [idleness] { idleness->resumed(); });
  if (!watching) {
    idleness->setAvailable(false);
    platform->warnings_.push_back(
        "the compositor offers neither ext_idle_notifier_v1 nor org_kde_kwin_idle (or no seat), "
        "so idle time cannot be measured (input never counts as idle)");
  }
  return platform;
}

WaylandPlatform::~WaylandPlatform() {
  accessibility_.reset();
  workspace_.reset();
  connection_.reset();
  idleness_.reset();
  entryWatcher_.reset();
}

void WaylandPlatform::setConnectionLostHandler(std::function<void()> handler) {
  connection_->setLostHandler(std::move(handler));
}

}  // namespace pilvo::wayland
