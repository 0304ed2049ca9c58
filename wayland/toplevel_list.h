// The applications of a Wayland session, from the compositor's list of
// toplevel windows (the wlroots foreign-toplevel protocol), as the agent and
// the host see them.
//
// A toplevel's app_id names its application through the shared identity
// resolver: on Wayland the app_id is usually the desktop-file ID, and XWayland
// windows arrive with their X class, so it is looked up like a WM_CLASS. An
// application is the set of toplevels that share an identifier. The protocol
// gives no process ids: every application here has pid 0.
//
// The protocol sends a toplevel's title, app_id and states and then `done`;
// only `done` applies them, so one change gives one notification. This class
// holds no Wayland types: WaylandConnection feeds it, tests drive it directly.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/event_loop.h"
#include "common/listener_list.h"
#include "common/running_app.h"
#include "identity/desktop_entry_index.h"

namespace pilvo::wayland {

// A toplevel, named by a number of our own (never reused, never 0).
using ToplevelId = uint64_t;

class ToplevelList {
 public:
  // What happened. Every member is optional.
  struct Listener {
    // The activated toplevel changed; `app` is its application (none when no
    // toplevel is activated, for example while a layer surface has the keyboard).
    std::function<void(ToplevelId toplevel, const std::optional<RunningApp>& app)>
        activeToplevelChanged;
    // A toplevel's title changed (applied by `done`).
    std::function<void(ToplevelId toplevel, const RunningApp& app)> titleChanged;
    // The application's last toplevel closed.
    std::function<void(const RunningApp& app)> appTerminated;
  };

  // `index` must outlive the list.
  explicit ToplevelList(const DesktopEntryIndex& index);
  ToplevelList(const ToplevelList&) = delete;
  ToplevelList& operator=(const ToplevelList&) = delete;

  // Protocol input, in the protocol's terms.
  ToplevelId opened();
  void setTitle(ToplevelId toplevel, std::string title);
  void setAppId(ToplevelId toplevel, std::string appId);
  void setActivated(ToplevelId toplevel, bool activated);
  void done(ToplevelId toplevel);
  void closed(ToplevelId toplevel);

  // Applications in order of first appearance, one entry each; `window` is
  // the application's most recently activated toplevel.
  std::vector<RunningApp> runningApplications() const;
  // The application of the activated toplevel; `window` is that toplevel.
  std::optional<RunningApp> frontmostApplication() const;
  ToplevelId activeToplevel() const { return active_; }
  std::optional<RunningApp> applicationOf(ToplevelId toplevel) const;
  // nullopt when the toplevel is unknown or never sent a title.
  std::optional<std::string> titleOf(ToplevelId toplevel) const;
  // The application's toplevels, most recently activated first.
  std::vector<ToplevelId> toplevelsOf(const RunningApp& app) const;

  std::unique_ptr<EventSource> addListener(Listener listener);

 private:
  struct State {
    std::optional<std::string> title;
    std::optional<std::string> appId;
    bool activated = false;
  };
  struct Toplevel {
    State pending;
    State current;
    bool announced = false;   // has had its first `done`
    uint64_t lastActive = 0;  // higher = activated more recently
    std::optional<std::string> bundleId;
    std::optional<std::string> localizedName;
  };
  RunningApp appOf(ToplevelId id, const Toplevel& toplevel) const;
  bool sameApp(const Toplevel& a, const Toplevel& b) const { return a.bundleId == b.bundleId; }

  const DesktopEntryIndex& index_;
  std::map<ToplevelId, Toplevel> toplevels_;
  ToplevelId nextId_ = 1;
  uint64_t activations_ = 0;
  ToplevelId active_ = 0;
  ListenerList<Listener> listeners_;
};

}  // namespace pilvo::wayland
