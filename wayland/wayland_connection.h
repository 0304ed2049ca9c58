// The connection to a Wayland compositor, on the loop: the toplevel list of
// the wlroots foreign-toplevel protocol (version 3 or lower), the seat that
// activation needs, and the idle notifications of ext_idle_notifier_v1 or,
// where only that is offered, org_kde_kwin_idle.
//
// Events are read whenever the socket is readable and applied to the
// ToplevelList; requests are flushed at once. When the compositor goes away
// the lost handler runs once, from the loop; after that activation does
// nothing and the list keeps its last state until the owner has shut down.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "common/event_loop.h"
#include "identity/desktop_entry_index.h"
#include "wayland/toplevel_list.h"

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct ext_idle_notifier_v1;
struct ext_idle_notification_v1;
struct org_kde_kwin_idle;
struct org_kde_kwin_idle_timeout;

namespace pilvo::wayland {

class WaylandConnection {
 public:
  // Connects to `displayName` (empty: $WAYLAND_DISPLAY, else "wayland-0") and
  // reads the first list of toplevels. nullptr with `error` set when there is
  // no compositor or it does not offer the foreign-toplevel protocol.
  static std::unique_ptr<WaylandConnection> open(EventLoop& loop, const DesktopEntryIndex& index,
                                                 const std::string& displayName,
                                                 std::string* error);
  ~WaylandConnection();
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  ToplevelList& toplevels() { return toplevels_; }
  // Asks for notifications after `timeoutSeconds` without input and on the
  // next input after that. false when no idle protocol is offered.
  bool watchIdle(double timeoutSeconds, std::function<void()> idled, std::function<void()> resumed);
  // The protocol watchIdle bound ("ext_idle_notifier_v1" or
  // "org_kde_kwin_idle"); "none" before that or when it failed.
  const std::string& idleProtocolName() const { return idleProtocolName_; }
  // Asks the compositor to activate the toplevel on our seat. false when the
  // toplevel is gone, there is no seat, or the connection is lost.
  bool activate(ToplevelId toplevel);

  void setLostHandler(std::function<void()> handler) { lostHandler_ = std::move(handler); }

 private:
  struct HandleData;
  struct Callbacks;
  friend struct Callbacks;

  WaylandConnection(EventLoop& loop, const DesktopEntryIndex& index);
  bool onReadable(IoCondition condition);
  void flush();
  void lose();

  EventLoop& loop_;
  ToplevelList toplevels_;
  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_seat* seat_ = nullptr;
  zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
  ext_idle_notifier_v1* extIdle_ = nullptr;
  org_kde_kwin_idle* kdeIdle_ = nullptr;
  ext_idle_notification_v1* extNotification_ = nullptr;
  org_kde_kwin_idle_timeout* kdeTimeout_ = nullptr;
  std::function<void()> idled_;
  std::function<void()> resumed_;
  std::string idleProtocolName_ = "none";
  std::map<ToplevelId, std::unique_ptr<HandleData>> handles_;
  std::unique_ptr<EventSource> watch_;
  std::function<void()> lostHandler_;
  bool lost_ = false;
  std::shared_ptr<bool> alive_;
};

}  // namespace pilvo::wayland
