// The applications of an EWMH desktop, as the agent and the host see them.
//
// An application is the set of managed top-level windows (_NET_CLIENT_LIST)
// that share an identifier, whichever processes they belong to (windows with
// nothing to name them by are grouped by process); a transient window (dialog)
// belongs to the application of its WM_TRANSIENT_FOR parent. Per-window facts
// are read once, when a window first appears, and dropped when it leaves the
// list, so a burst of events does not re-query the server.
//
// The desktop and dock/panel windows are never the front application: while
// one of them is active, the previous active window stands.
//
// Event driven: the model follows PropertyNotify on the root window for
// _NET_CLIENT_LIST and _NET_ACTIVE_WINDOW, and process exits through pidfds.
#pragma once

#include <X11/Xlib.h>

#include <compare>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/listener_list.h"
#include "common/running_app.h"
#include "identity/desktop_entry_index.h"
#include "x11/window_reader.h"
#include "x11/x_connection.h"

namespace pilvo::x11 {

class X11Desktop {
 public:
  // What happened on the desktop. Every member is optional.
  struct Listener {
    // The active window changed; `app` is its application (none for no
    // window or one that belongs to no application).
    std::function<void(uint64_t window, const std::optional<RunningApp>& app)> activeWindowChanged;
    std::function<void(const RunningApp& app)> appLaunched;
    // The application's last window left the client list or every process it
    // ran in exited.
    std::function<void(const RunningApp& app)> appTerminated;
    std::function<void(uint64_t window, const RunningApp& app)> windowAdded;
    std::function<void(uint64_t window)> windowRemoved;
  };

  // `index` must outlive the desktop.
  X11Desktop(XConnection& connection, const DesktopEntryIndex& index);
  ~X11Desktop();
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  // After the display is lost these answer "none".
  // Running applications in _NET_CLIENT_LIST order of first appearance.
  std::vector<RunningApp> runningApplications();
  // The application of the active window, after WM_TRANSIENT_FOR; its
  // `window` is the active window itself.
  std::optional<RunningApp> frontmostApplication();
  uint64_t activeWindow() const { return active_; }
  std::optional<RunningApp> applicationOf(uint64_t window);
  // The application's managed windows, in client-list order.
  std::vector<uint64_t> windowsOf(const RunningApp& app) const;
  // Asks the window manager to bring the application's active or first window
  // to the front (_NET_ACTIVE_WINDOW client message, source: pager/user).
  // false when the application has no window.
  bool activate(const RunningApp& app);

  std::unique_ptr<EventSource> addListener(Listener listener);

  WindowReader& reader() { return reader_; }
  XConnection& connection() { return connection_; }

 private:
  // The identifier, or for windows without one, their process.
  struct AppKey {
    std::optional<std::string> bundleId;
    int32_t pid = 0;
    auto operator<=>(const AppKey&) const = default;
  };
  static AppKey keyOf(const std::optional<std::string>& bundleId, int32_t pid) {
    return bundleId ? AppKey{bundleId, 0} : AppKey{std::nullopt, pid};
  }
  struct WindowInfo {
    AppKey key;
    int32_t pid = 0;
    std::optional<std::string> localizedName;
    bool transient = false;
    bool desktopOrDock = false;
  };
  struct AppState {
    std::optional<std::string> localizedName;
    bool terminated = false;
  };
  void onEvent(XEvent& event);
  void refreshClientList();
  void refreshActiveWindow();
  const WindowInfo* infoFor(Window window);
  RunningApp makeApp(const AppKey& key, Window preferred, bool withPolicy);
  bool hasWindows(const AppKey& key) const;
  bool allProcessesExited(const AppKey& key) const;
  void watchProcess(int32_t pid);
  void processExited(int32_t pid);

  XConnection& connection_;
  const DesktopEntryIndex& index_;
  WindowReader reader_;
  Atom netClientList_;
  Atom netActiveWindow_;
  std::vector<Window> clients_;
  // Facts of client-list windows, and of an active window not (yet) listed.
  std::map<Window, WindowInfo> windows_;
  std::map<AppKey, AppState> apps_;
  std::map<int32_t, std::unique_ptr<EventSource>> processWatches_;
  // Processes of listed windows that have exited.
  std::set<int32_t> exitedPids_;
  Window active_ = None;
  ListenerList<Listener> listeners_;
  std::unique_ptr<EventSource> eventHandler_;
  std::shared_ptr<bool> alive_;
};

}  // namespace pilvo::x11
