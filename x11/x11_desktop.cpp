#include "x11/x11_desktop.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "x11/process_watch.h"

namespace pilvo::x11 {
namespace {

// EWMH source indication for requests made on the user's behalf by a pager
// or task switcher: window managers honour these without focus-stealing checks.
constexpr long kSourcePager = 2;

}  // namespace

X11Desktop::X11Desktop(XConnection& connection, const DesktopEntryIndex& index)
    : connection_(connection),
      index_(index),
      reader_(connection),
      netClientList_(connection.atom("_NET_CLIENT_LIST")),
      netActiveWindow_(connection.atom("_NET_ACTIVE_WINDOW")),
      alive_(std::make_shared<bool>(true)) {
  eventHandler_ = connection_.addEventHandler([this](XEvent& event) { onEvent(event); });
  connection_.addInputMask(connection_.root(), PropertyChangeMask);
  refreshClientList();
  refreshActiveWindow();
  connection_.flush();
}

X11Desktop::~X11Desktop() {
  *alive_ = false;
  eventHandler_.reset();
  connection_.removeInputMask(connection_.root(), PropertyChangeMask);
  connection_.flush();
}

std::unique_ptr<EventSource> X11Desktop::addListener(Listener listener) {
  return listeners_.add(std::move(listener));
}

void X11Desktop::onEvent(XEvent& event) {
  if (event.type != PropertyNotify || event.xproperty.window != connection_.root()) return;
  if (event.xproperty.atom == netClientList_) {
    refreshClientList();
  } else if (event.xproperty.atom == netActiveWindow_) {
    refreshActiveWindow();
  }
}

const X11Desktop::WindowInfo* X11Desktop::infoFor(Window window) {
  if (window == None) return nullptr;
  if (auto it = windows_.find(window); it != windows_.end()) return &it->second;
  const WindowIdentityFacts facts = reader_.identityFacts(window);
  if (facts.gone) return nullptr;
  const AppIdentity identity = resolveAppIdentity(facts.facts, index_);
  WindowInfo info{.key = keyOf(identity.bundleId, facts.pid),
                  .pid = facts.pid,
                  .localizedName = identity.localizedName,
                  .transient = facts.transient,
                  .desktopOrDock = reader_.isDesktopOrDock(window)};
  return &windows_.emplace(window, std::move(info)).first->second;
}

bool X11Desktop::hasWindows(const AppKey& key) const {
  return std::any_of(clients_.begin(), clients_.end(), [&](Window window) {
    auto it = windows_.find(window);
    return it != windows_.end() && it->second.key == key;
  });
}

bool X11Desktop::allProcessesExited(const AppKey& key) const {
  bool any = false;
  for (const Window window : clients_) {
    auto it = windows_.find(window);
    if (it == windows_.end() || !(it->second.key == key)) continue;
    // A window of an unknown process may still be served by a live one.
    if (it->second.pid <= 0 || !exitedPids_.contains(it->second.pid)) return false;
    any = true;
  }
  return any;
}

void X11Desktop::refreshClientList() {
  const std::vector<Window> previous = clients_;
  const std::set<Window> before(previous.begin(), previous.end());
  std::vector<Window> listed = reader_.clientList();
  const std::set<Window> after(listed.begin(), listed.end());

  // Read facts of new windows first; a window that vanished meanwhile is
  // left out as if the window manager had already dropped it.
  std::vector<Window> added;
  std::set<Window> kept;
  clients_.clear();
  for (const Window window : listed) {
    if (!kept.insert(window).second) continue;  // listed twice by a confused window manager
    if (!before.contains(window)) {
      if (!infoFor(window)) continue;
      added.push_back(window);
    }
    clients_.push_back(window);
  }

  std::vector<Window> removed;
  for (const Window window : previous) {
    if (!after.contains(window)) removed.push_back(window);
  }
  for (auto it = windows_.begin(); it != windows_.end();) {
    const bool keep = after.contains(it->first) || it->first == active_;
    it = keep ? std::next(it) : windows_.erase(it);
  }
  for (const Window window : removed) {
    listeners_.forEach([&](Listener& l) {
      if (l.windowRemoved) l.windowRemoved(window);
    });
  }

  // Applications without windows have ended.
  for (auto it = apps_.begin(); it != apps_.end();) {
    if (hasWindows(it->first)) {
      ++it;
      continue;
    }
    const AppKey key = it->first;
    const bool reported = it->second.terminated;
    RunningApp app = makeApp(key, None, false);
    it = apps_.erase(it);
    if (!reported) {
      listeners_.forEach([&](Listener& l) {
        if (l.appTerminated) l.appTerminated(app);
      });
    }
  }
  const auto pidUsed = [&](int32_t pid) {
    return std::any_of(windows_.begin(), windows_.end(),
                       [&](const auto& w) { return w.second.pid == pid; });
  };
  for (auto it = processWatches_.begin(); it != processWatches_.end();) {
    it = pidUsed(it->first) ? std::next(it) : processWatches_.erase(it);
  }
  std::erase_if(exitedPids_, [&](int32_t pid) { return !pidUsed(pid); });

  for (const Window window : added) {
    const WindowInfo& info = windows_.at(window);
    const AppKey key = info.key;
    // A process id seen again belongs to a new process.
    if (exitedPids_.erase(info.pid) > 0) processWatches_.erase(info.pid);
    watchProcess(info.pid);
    auto state = apps_.find(key);
    // An application whose processes all ended comes back with a new one.
    if (state != apps_.end() && state->second.terminated) {
      apps_.erase(state);
      state = apps_.end();
    }
    if (state == apps_.end()) {
      apps_[key] = AppState{.localizedName = info.localizedName};
      const RunningApp app = makeApp(key, window, true);
      listeners_.forEach([&](Listener& l) {
        if (l.appLaunched) l.appLaunched(app);
      });
    }
    const RunningApp app = makeApp(key, window, false);
    listeners_.forEach([&](Listener& l) {
      if (l.windowAdded) l.windowAdded(window, app);
    });
  }
}

void X11Desktop::refreshActiveWindow() {
  const Window window = reader_.activeWindow();
  if (window == active_) return;
  if (const WindowInfo* info = infoFor(window); info && info->desktopOrDock) return;
  active_ = window;
  // Some clients name their window only after mapping it: a window that had
  // nothing to name it by when it appeared is read again when it comes to the front.
  if (auto it = windows_.find(window); it != windows_.end() && !it->second.key.bundleId) {
    windows_.erase(it);
    if (const WindowInfo* info = infoFor(window);
        info && !apps_.contains(info->key) &&
        std::find(clients_.begin(), clients_.end(), window) != clients_.end()) {
      apps_[info->key] = AppState{.localizedName = info->localizedName};
      watchProcess(info->pid);
    }
  }
  const std::optional<RunningApp> app = applicationOf(window);
  listeners_.forEach([&](Listener& l) {
    if (l.activeWindowChanged) l.activeWindowChanged(window, app);
  });
}

RunningApp X11Desktop::makeApp(const AppKey& key, Window preferred, bool withPolicy) {
  RunningApp app;
  app.bundleId = key.bundleId;
  app.pid = key.pid;
  if (auto it = apps_.find(key); it != apps_.end()) app.localizedName = it->second.localizedName;
  if (auto it = windows_.find(preferred); preferred != None && it != windows_.end()) {
    if (!app.localizedName) app.localizedName = it->second.localizedName;
    app.window = preferred;
    app.pid = it->second.pid;
  }
  bool anyWindow = false;
  bool regular = false;
  for (const Window window : clients_) {
    auto it = windows_.find(window);
    if (it == windows_.end() || !(it->second.key == key)) continue;
    if (app.window == 0) {
      app.window = window;
      app.pid = it->second.pid;
    }
    anyWindow = true;
    if (withPolicy && !regular) regular = reader_.isTaskbarWindow(window, it->second.transient);
    if (!withPolicy) break;
  }
  if (withPolicy && !anyWindow && app.window != 0) {
    regular = reader_.isTaskbarWindow(static_cast<Window>(app.window), false);
  }
  app.activationPolicy =
      (!withPolicy || regular) ? ActivationPolicy::kRegular : ActivationPolicy::kAccessory;
  return app;
}

std::optional<RunningApp> X11Desktop::applicationOf(uint64_t window) {
  if (connection_.lost()) return std::nullopt;
  const WindowInfo* info = infoFor(static_cast<Window>(window));
  if (!info) return std::nullopt;
  const AppKey key = info->key;
  RunningApp app = makeApp(key, static_cast<Window>(window), true);
  connection_.flush();
  return app;
}

std::optional<RunningApp> X11Desktop::frontmostApplication() { return applicationOf(active_); }

std::vector<RunningApp> X11Desktop::runningApplications() {
  std::vector<RunningApp> out;
  if (connection_.lost()) return out;
  std::set<AppKey> seen;
  for (const Window window : clients_) {
    auto it = windows_.find(window);
    if (it == windows_.end() || !seen.insert(it->second.key).second) continue;
    auto state = apps_.find(it->second.key);
    if (state != apps_.end() && state->second.terminated) continue;
    out.push_back(makeApp(it->second.key, window, true));
  }
  connection_.flush();
  return out;
}

std::vector<uint64_t> X11Desktop::windowsOf(const RunningApp& app) const {
  const AppKey key = keyOf(app.bundleId, app.pid);
  std::vector<uint64_t> out;
  for (const Window window : clients_) {
    auto it = windows_.find(window);
    if (it != windows_.end() && it->second.key == key) out.push_back(window);
  }
  return out;
}

bool X11Desktop::activate(const RunningApp& app) {
  const std::vector<uint64_t> windows = windowsOf(app);
  if (windows.empty() || connection_.lost()) return false;
  Window target = static_cast<Window>(windows.front());
  if (std::find(windows.begin(), windows.end(), active_) != windows.end()) target = active_;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = target;
  event.xclient.message_type = netActiveWindow_;
  event.xclient.format = 32;
  event.xclient.data.l[0] = kSourcePager;
  event.xclient.data.l[1] = CurrentTime;
  event.xclient.data.l[2] = static_cast<long>(active_);
  XSendEvent(connection_.display(), connection_.root(), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  connection_.flush();
  return true;
}

void X11Desktop::watchProcess(int32_t pid) {
  if (pid <= 0 || processWatches_.contains(pid)) return;
  auto watch = watchProcessExit(connection_.loop(), pid, [this, pid, alive = alive_] {
    if (*alive) processExited(pid);
  });
  // Without a pidfd the end is seen when the windows leave the client list.
  if (watch) processWatches_[pid] = std::move(watch);
}

void X11Desktop::processExited(int32_t pid) {
  exitedPids_.insert(pid);
  std::vector<RunningApp> ended;
  for (auto& [key, state] : apps_) {
    if (state.terminated || !allProcessesExited(key)) continue;
    state.terminated = true;
    ended.push_back(makeApp(key, None, false));
  }
  for (const RunningApp& app : ended) {
    listeners_.forEach([&](Listener& l) {
      if (l.appTerminated) l.appTerminated(app);
    });
  }
}

}  // namespace pilvo::x11
