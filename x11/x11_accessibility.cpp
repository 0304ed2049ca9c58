#include "x11/x11_accessibility.h"

#include <algorithm>

namespace pilvo::x11 {

struct X11Accessibility::Watched {
  RunningApp app;
  AccessibilityCallback callback;
  // Watched windows and whether each has _NET_WM_NAME (then WM_NAME is not the title).
  std::map<Window, bool> windows;
  Window focused = None;
  bool active = true;
  // WM_NAME changes of windows without _NET_WM_NAME, held back briefly in
  // case the client is about to write _NET_WM_NAME as well.
  std::map<Window, std::unique_ptr<EventSource>> pendingLegacy;
};

class X11Accessibility::Observer final : public AccessibilityObserver {
 public:
  Observer(X11Accessibility* owner, std::shared_ptr<Watched> watched)
      : owner_(owner), alive_(owner->alive_), watched_(std::move(watched)) {}
  ~Observer() override {
    if (*alive_) owner_->detach(watched_.get());
  }

 private:
  X11Accessibility* owner_;
  std::shared_ptr<bool> alive_;
  std::shared_ptr<Watched> watched_;
};

X11Accessibility::X11Accessibility(X11Desktop& desktop, double twinWaitSeconds)
    : desktop_(desktop),
      connection_(desktop.connection()),
      twinWaitSeconds_(twinWaitSeconds),
      alive_(std::make_shared<bool>(true)) {
  eventHandler_ = connection_.addEventHandler([this](XEvent& event) { onEvent(event); });
  listener_ = desktop_.addListener(X11Desktop::Listener{
      .activeWindowChanged =
          [this](uint64_t window, const std::optional<RunningApp>& app) {
            activeWindowChanged(static_cast<Window>(window), app);
          },
      .windowAdded = [this](
                         uint64_t window,
                         const RunningApp& app) { windowAdded(static_cast<Window>(window), app); },
      .windowRemoved = [this](uint64_t window) { windowRemoved(static_cast<Window>(window)); },
  });
  if (const Window active = static_cast<Window>(desktop_.activeWindow())) {
    focusOrder_[active] = ++focusCounter_;
  }
}

X11Accessibility::~X11Accessibility() {
  *alive_ = false;
  while (!observers_.empty()) detach(observers_.back().get());
}

std::optional<std::string> X11Accessibility::titleOf(ElementRef element) {
  if (element == 0) return std::nullopt;
  auto title = desktop_.reader().title(static_cast<Window>(element));
  connection_.flush();
  return title;
}

std::optional<std::string> X11Accessibility::focusedWindowTitle(const RunningApp& app) {
  const std::vector<uint64_t> windows = desktop_.windowsOf(app);
  const uint64_t active = desktop_.activeWindow();
  uint64_t window = 0;
  if (active != 0 && (app.window == active ||
                      std::find(windows.begin(), windows.end(), active) != windows.end())) {
    window = active;
  } else {
    uint64_t best = 0;
    for (const uint64_t candidate : windows) {
      auto it = focusOrder_.find(static_cast<Window>(candidate));
      if (it != focusOrder_.end() && it->second > best) {
        best = it->second;
        window = candidate;
      }
    }
    if (window == 0) window = windows.empty() ? app.window : windows.front();
  }
  return titleOf(window);
}

bool X11Accessibility::watch(Watched& observer, Window window) {
  if (window == None || observer.windows.contains(window)) return true;
  // Select first, then read: a change between the two is not missed.
  connection_.addInputMask(window, PropertyChangeMask);
  bool gone = false;
  const bool hasNetName =
      connection_.getProperty(window, desktop_.reader().netWmName(), &gone, 0).has_value();
  if (gone) {
    connection_.removeInputMask(window, PropertyChangeMask);
    return false;
  }
  observer.windows[window] = hasNetName;
  return true;
}

std::unique_ptr<AccessibilityObserver> X11Accessibility::createObserver(
    const RunningApp& app, AccessibilityCallback callback) {
  if (app.pid <= 0 || !callback || connection_.lost()) return nullptr;
  std::vector<uint64_t> windows = desktop_.windowsOf(app);
  if (app.window != 0 && std::find(windows.begin(), windows.end(), app.window) == windows.end()) {
    windows.push_back(app.window);
  }
  auto watched = std::make_shared<Watched>();
  watched->app = app;
  watched->callback = std::move(callback);
  for (const uint64_t window : windows) watch(*watched, static_cast<Window>(window));
  connection_.flush();
  if (watched->windows.empty()) return nullptr;
  const Window active = static_cast<Window>(desktop_.activeWindow());
  if (watched->windows.contains(active)) watched->focused = active;
  observers_.push_back(watched);
  return std::make_unique<Observer>(this, std::move(watched));
}

void X11Accessibility::detach(Watched* observer) {
  auto it = std::find_if(observers_.begin(), observers_.end(),
                         [&](const auto& o) { return o.get() == observer; });
  if (it == observers_.end()) return;
  observer->active = false;
  observer->pendingLegacy.clear();
  for (const auto& [window, hasNetName] : observer->windows) {
    connection_.removeInputMask(window, PropertyChangeMask);
  }
  observer->windows.clear();
  observers_.erase(it);
  connection_.flush();
}

void X11Accessibility::onEvent(XEvent& event) {
  if (event.type != PropertyNotify || observers_.empty()) return;
  const XPropertyEvent& property = event.xproperty;
  const WindowReader& reader = desktop_.reader();
  const bool netName = property.atom == reader.netWmName();
  if (!netName && property.atom != reader.wmName()) return;

  // Copy: a callback may replace the observer.
  const std::vector<std::shared_ptr<Watched>> snapshot = observers_;
  for (const auto& observer : snapshot) {
    auto window = observer->windows.find(property.window);
    if (!observer->active || window == observer->windows.end()) continue;
    if (netName) {
      window->second = property.state == PropertyNewValue;
      // A held-back WM_NAME change of this window was the first half of this one.
      observer->pendingLegacy.erase(property.window);
    } else if (window->second) {
      continue;  // the title is _NET_WM_NAME; this WM_NAME write is its twin
    } else if (desktop_.reader().hasNetWmName(property.window)) {
      // A client that writes WM_NAME first and then _NET_WM_NAME: the second
      // write is already on the server and its notification will follow.
      window->second = true;
      continue;
    } else {
      holdBackLegacyChange(observer, property.window);
      continue;
    }
    observer->callback(property.window, kTitleChanged);
  }
}

void X11Accessibility::holdBackLegacyChange(const std::shared_ptr<Watched>& observer,
                                            Window window) {
  // An earlier change still held back was a change of its own: report it now.
  if (observer->pendingLegacy.erase(window) > 0) {
    observer->callback(window, kTitleChanged);
    if (!observer->active) return;
  }
  std::weak_ptr<Watched> weak = observer;
  observer->pendingLegacy[window] =
      connection_.loop().addTimer(twinWaitSeconds_, false, [weak, window] {
        const auto held = weak.lock();
        if (!held || !held->active) return;
        // Destroying this timer's handle from inside its callback is allowed.
        held->pendingLegacy.erase(window);
        held->callback(window, kTitleChanged);
      });
}

void X11Accessibility::activeWindowChanged(Window window, const std::optional<RunningApp>& app) {
  if (window != None) focusOrder_[window] = ++focusCounter_;
  if (!app || window == None) return;
  const std::vector<std::shared_ptr<Watched>> snapshot = observers_;
  for (const auto& observer : snapshot) {
    if (!observer->active || !observer->app.sameApplication(*app)) continue;
    watch(*observer, window);
    if (observer->focused == window) continue;
    observer->focused = window;
    observer->callback(window, kFocusedWindowChanged);
  }
}

void X11Accessibility::windowAdded(Window window, const RunningApp& app) {
  for (const auto& observer : observers_) {
    if (observer->active && observer->app.sameApplication(app)) watch(*observer, window);
  }
}

void X11Accessibility::windowRemoved(Window window) {
  focusOrder_.erase(window);
  for (const auto& observer : observers_) {
    observer->pendingLegacy.erase(window);
    if (observer->windows.erase(window) > 0) {
      connection_.removeInputMask(window, PropertyChangeMask);
    }
  }
}

}  // namespace pilvo::x11
