#include "wayland/toplevel_list.h"

#include <algorithm>

#include "identity/app_identity.h"

namespace pilvo::wayland {
ToplevelList::ToplevelList(const DesktopEntryIndex& index) : index_(index) {}

ToplevelId ToplevelList::opened() {
  const ToplevelId id = nextId_++;
  toplevels_.try_emplace(id);
  return id;
}

void ToplevelList::setTitle(ToplevelId toplevel, std::string title) {
  if (auto it = toplevels_.find(toplevel); it != toplevels_.end()) {
    it->second.pending.title = std::move(title);
  }
}

void ToplevelList::setAppId(ToplevelId toplevel, std::string appId) {
  if (auto it = toplevels_.find(toplevel); it != toplevels_.end()) {
    it->second.pending.appId = std::move(appId);
  }
}

void ToplevelList::setActivated(ToplevelId toplevel, bool activated) {
  if (auto it = toplevels_.find(toplevel); it != toplevels_.end()) {
    it->second.pending.activated = activated;
  }
}

void ToplevelList::done(ToplevelId id) {
  auto it = toplevels_.find(id);
  if (it == toplevels_.end()) return;
  Toplevel& toplevel = it->second;
  const State before = toplevel.current;
  const bool first = !toplevel.announced;
  toplevel.current = toplevel.pending;
  toplevel.announced = true;

  const bool appIdChanged = first || before.appId != toplevel.current.appId;
  if (appIdChanged) {
    // The app_id is looked up like a WM_CLASS: an entry whose StartupWMClass
    // or ID matches it, else the app_id itself.
    WindowFacts facts{.wmClassInstance = toplevel.current.appId,
                      .wmClassClass = toplevel.current.appId};
    AppIdentity identity = resolveAppIdentity(facts, index_);
    toplevel.bundleId = std::move(identity.bundleId);
    toplevel.localizedName = std::move(identity.localizedName);
  }

  if (!first && before.title != toplevel.current.title) {
    const RunningApp app = appOf(id, toplevel);
    listeners_.forEach([&](const Listener& l) {
      if (l.titleChanged) l.titleChanged(id, app);
    });
  }

  if (toplevel.current.activated && (active_ != id || !before.activated || appIdChanged)) {
    active_ = id;
    toplevel.lastActive = ++activations_;
    const std::optional<RunningApp> app = appOf(id, toplevel);
    listeners_.forEach([&](const Listener& l) {
      if (l.activeToplevelChanged) l.activeToplevelChanged(id, app);
    });
  } else if (!toplevel.current.activated && active_ == id) {
    active_ = 0;
    listeners_.forEach([&](const Listener& l) {
      if (l.activeToplevelChanged) l.activeToplevelChanged(0, std::nullopt);
    });
  }
}

void ToplevelList::closed(ToplevelId id) {
  auto it = toplevels_.find(id);
  if (it == toplevels_.end()) return;
  const bool announced = it->second.announced;
  const RunningApp app = appOf(id, it->second);
  const Toplevel gone = std::move(it->second);
  toplevels_.erase(it);
  if (!announced) return;
  if (active_ == id) {
    active_ = 0;
    listeners_.forEach([&](const Listener& l) {
      if (l.activeToplevelChanged) l.activeToplevelChanged(0, std::nullopt);
    });
  }
  const bool lastOfApp = std::none_of(toplevels_.begin(), toplevels_.end(), [&](const auto& entry) {
    return entry.second.announced && sameApp(entry.second, gone);
  });
  if (lastOfApp) {
    listeners_.forEach([&](const Listener& l) {
      if (l.appTerminated) l.appTerminated(app);
    });
  }
}

RunningApp ToplevelList::appOf(ToplevelId id, const Toplevel& toplevel) const {
  return RunningApp{.bundleId = toplevel.bundleId,
                    .localizedName = toplevel.localizedName,
                    .pid = 0,
                    .activationPolicy = ActivationPolicy::kRegular,
                    .window = id};
}

std::vector<RunningApp> ToplevelList::runningApplications() const {
  // Ids increase, so the map holds the toplevels in order of appearance.
  std::vector<RunningApp> apps;
  std::vector<const Toplevel*> latest;
  for (const auto& [id, toplevel] : toplevels_) {
    if (!toplevel.announced) continue;
    auto same = std::find_if(latest.begin(), latest.end(),
                             [&](const Toplevel* other) { return sameApp(*other, toplevel); });
    if (same == latest.end()) {
      apps.push_back(appOf(id, toplevel));
      latest.push_back(&toplevel);
    } else if (toplevel.lastActive > (*same)->lastActive) {
      apps[same - latest.begin()].window = id;
      *same = &toplevel;
    }
  }
  return apps;
}

std::optional<RunningApp> ToplevelList::frontmostApplication() const {
  if (active_ == 0) return std::nullopt;
  return applicationOf(active_);
}

std::optional<RunningApp> ToplevelList::applicationOf(ToplevelId toplevel) const {
  auto it = toplevels_.find(toplevel);
  if (it == toplevels_.end() || !it->second.announced) return std::nullopt;
  return appOf(toplevel, it->second);
}

std::optional<std::string> ToplevelList::titleOf(ToplevelId toplevel) const {
  auto it = toplevels_.find(toplevel);
  if (it == toplevels_.end() || !it->second.announced) return std::nullopt;
  return it->second.current.title;
}

std::vector<ToplevelId> ToplevelList::toplevelsOf(const RunningApp& app) const {
  std::vector<std::pair<uint64_t, ToplevelId>> found;
  for (const auto& [id, toplevel] : toplevels_) {
    // Every application here has pid 0: its identifier alone names it.
    if (toplevel.announced && toplevel.bundleId == app.bundleId) {
      // Most recently activated first; never-activated ones in order of appearance.
      found.emplace_back(toplevel.lastActive, id);
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<ToplevelId> ids;
  for (const auto& entry : found) ids.push_back(entry.second);
  return ids;
}

std::unique_ptr<EventSource> ToplevelList::addListener(Listener listener) {
  return listeners_.add(std::move(listener));
}

}  // namespace pilvo::wayland
