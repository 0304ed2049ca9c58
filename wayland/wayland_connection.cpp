#include "wayland/wayland_connection.h"

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace pilvo::wayland {
namespace {

constexpr uint32_t kToplevelManagerVersion = 3;
// Only the activated state matters here; its value in the protocol's state enum.
constexpr uint32_t kStateActivated = 2;

}  // namespace

struct WaylandConnection::HandleData {
  WaylandConnection* connection;
  ToplevelId id;
  zwlr_foreign_toplevel_handle_v1* handle;
};

// The protocol listeners, as plain functions over the connection.
struct WaylandConnection::Callbacks {
  static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                     uint32_t version) {
    auto* self = static_cast<WaylandConnection*>(data);
    if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0 &&
        !self->manager_) {
      self->manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
          wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                           std::min(version, kToplevelManagerVersion)));
      zwlr_foreign_toplevel_manager_v1_add_listener(self->manager_, &kManagerListener, self);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat_) {
      self->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0 &&
               !self->extIdle_) {
      self->extIdle_ = static_cast<ext_idle_notifier_v1*>(
          wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    } else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0 && !self->kdeIdle_) {
      self->kdeIdle_ = static_cast<org_kde_kwin_idle*>(
          wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
    }
  }
  static void globalRemove(void*, wl_registry*, uint32_t) {}

  static void toplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                       zwlr_foreign_toplevel_handle_v1* handle) {
    auto* self = static_cast<WaylandConnection*>(data);
    const ToplevelId id = self->toplevels_.opened();
    auto entry = std::make_unique<HandleData>(HandleData{self, id, handle});
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kHandleListener, entry.get());
    self->handles_[id] = std::move(entry);
  }
  static void finished(void* data, zwlr_foreign_toplevel_manager_v1* manager) {
    auto* self = static_cast<WaylandConnection*>(data);
    // The compositor destroys the manager after this event.
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    self->manager_ = nullptr;
  }

  static HandleData* of(void* data) { return static_cast<HandleData*>(data); }
  static void title(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
    of(data)->connection->toplevels_.setTitle(of(data)->id, title ? title : "");
  }
  static void appId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
    of(data)->connection->toplevels_.setAppId(of(data)->id, appId ? appId : "");
  }
  static void outputEnter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
  static void outputLeave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
  static void state(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    bool activated = false;
    const auto* values = static_cast<const uint32_t*>(states->data);
    for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
      if (values[i] == kStateActivated) activated = true;
    }
    of(data)->connection->toplevels_.setActivated(of(data)->id, activated);
  }
  static void done(void* data, zwlr_foreign_toplevel_handle_v1*) {
    of(data)->connection->toplevels_.done(of(data)->id);
  }
  static void closed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    WaylandConnection* self = of(data)->connection;
    const ToplevelId id = of(data)->id;
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
    self->handles_.erase(id);  // `data` is gone from here on
    self->toplevels_.closed(id);
  }
  static void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

  static void extIdled(void* data, ext_idle_notification_v1*) {
    auto* self = static_cast<WaylandConnection*>(data);
    if (self->idled_) self->idled_();
  }
  static void extResumed(void* data, ext_idle_notification_v1*) {
    auto* self = static_cast<WaylandConnection*>(data);
    if (self->resumed_) self->resumed_();
  }
  static void kdeIdled(void* data, org_kde_kwin_idle_timeout*) { extIdled(data, nullptr); }
  static void kdeResumed(void* data, org_kde_kwin_idle_timeout*) { extResumed(data, nullptr); }

  static constexpr wl_registry_listener kRegistryListener{global, globalRemove};
  static constexpr zwlr_foreign_toplevel_manager_v1_listener kManagerListener{toplevel, finished};
  static constexpr zwlr_foreign_toplevel_handle_v1_listener kHandleListener{
      title, appId, outputEnter, outputLeave, state, done, closed, parent};
  static constexpr ext_idle_notification_v1_listener kExtIdleListener{extIdled, extResumed};
  static constexpr org_kde_kwin_idle_timeout_listener kKdeIdleListener{kdeIdled, kdeResumed};
};

WaylandConnection::WaylandConnection(EventLoop& loop, const DesktopEntryIndex& index)
    : loop_(loop), toplevels_(index), alive_(std::make_shared<bool>(true)) {}

std::unique_ptr<WaylandConnection> WaylandConnection::open(EventLoop& loop,
                                                           const DesktopEntryIndex& index,
                                                           const std::string& displayName,
                                                           std::string* error) {
  std::unique_ptr<WaylandConnection> self(new WaylandConnection(loop, index));
  self->display_ = wl_display_connect(displayName.empty() ? nullptr : displayName.c_str());
  if (!self->display_) {
    if (error) {
      *error = "cannot connect to the Wayland compositor (" + std::string(std::strerror(errno)) +
               "); check or set the WAYLAND_DISPLAY environment variable";
    }
    return nullptr;
  }
  self->registry_ = wl_display_get_registry(self->display_);
  wl_registry_add_listener(self->registry_, &Callbacks::kRegistryListener, self.get());
  // First the globals, then the toplevels the manager announces at once.
  if (wl_display_roundtrip(self->display_) < 0 || wl_display_roundtrip(self->display_) < 0) {
    if (error) *error = "the Wayland compositor closed the connection at start";
    return nullptr;
  }
  if (!self->manager_) {
    if (error) {
      *error =
          "the Wayland compositor does not offer the wlroots foreign-toplevel protocol "
          "(zwlr_foreign_toplevel_manager_v1)";
    }
    return nullptr;
  }
  self->watch_ = loop.addFd(wl_display_get_fd(self->display_),
                            IoCondition::kRead | IoCondition::kHangup | IoCondition::kError,
                            [raw = self.get()](IoCondition c) { return raw->onReadable(c); });
  return self;
}

WaylandConnection::~WaylandConnection() {
  *alive_ = false;
  watch_.reset();
  if (!display_) return;
  for (auto& [id, entry] : handles_) zwlr_foreign_toplevel_handle_v1_destroy(entry->handle);
  handles_.clear();
  if (extNotification_) ext_idle_notification_v1_destroy(extNotification_);
  if (kdeTimeout_) org_kde_kwin_idle_timeout_release(kdeTimeout_);
  if (extIdle_) ext_idle_notifier_v1_destroy(extIdle_);
  if (kdeIdle_) org_kde_kwin_idle_destroy(kdeIdle_);
  if (manager_) zwlr_foreign_toplevel_manager_v1_destroy(manager_);
  if (seat_) wl_seat_destroy(seat_);
  if (registry_) wl_registry_destroy(registry_);
  if (!lost_) wl_display_flush(display_);
  wl_display_disconnect(display_);
}

bool WaylandConnection::watchIdle(double timeoutSeconds, std::function<void()> idled,
                                  std::function<void()> resumed) {
  if (lost_ || !seat_) return false;
  const auto timeoutMs = static_cast<uint32_t>(std::max(1.0, timeoutSeconds * 1000.0));
  idled_ = std::move(idled);
  resumed_ = std::move(resumed);
  if (extIdle_) {
    if (extNotification_) ext_idle_notification_v1_destroy(extNotification_);
    extNotification_ = ext_idle_notifier_v1_get_idle_notification(extIdle_, timeoutMs, seat_);
    ext_idle_notification_v1_add_listener(extNotification_, &Callbacks::kExtIdleListener, this);
    idleProtocolName_ = ext_idle_notifier_v1_interface.name;
  } else if (kdeIdle_) {
    if (kdeTimeout_) org_kde_kwin_idle_timeout_release(kdeTimeout_);
    kdeTimeout_ = org_kde_kwin_idle_get_idle_timeout(kdeIdle_, seat_, timeoutMs);
    org_kde_kwin_idle_timeout_add_listener(kdeTimeout_, &Callbacks::kKdeIdleListener, this);
    idleProtocolName_ = org_kde_kwin_idle_interface.name;
  } else {
    return false;
  }
  flush();
  return true;
}

bool WaylandConnection::activate(ToplevelId toplevel) {
  if (lost_ || !seat_) return false;
  auto it = handles_.find(toplevel);
  if (it == handles_.end()) return false;
  zwlr_foreign_toplevel_handle_v1_activate(it->second->handle, seat_);
  flush();
  return true;
}

bool WaylandConnection::onReadable(IoCondition condition) {
  if (lost_) return false;
  if (hasCondition(condition, IoCondition::kError) ||
      (hasCondition(condition, IoCondition::kHangup) &&
       !hasCondition(condition, IoCondition::kRead))) {
    lose();
    return false;
  }
  if (wl_display_dispatch(display_) < 0) {
    lose();
    return false;
  }
  flush();
  return !lost_;
}

void WaylandConnection::flush() {
  if (lost_) return;
  if (wl_display_flush(display_) < 0 && errno != EAGAIN) lose();
}

void WaylandConnection::lose() {
  if (lost_) return;
  lost_ = true;
  // Dropping the watch from inside its own callback is fine: the callback
  // returns false as well.
  loop_.post([alive = std::weak_ptr<bool>(alive_), this] {
    if (alive.expired()) return;
    watch_.reset();
    if (lostHandler_) lostHandler_();
  });
}

}  // namespace pilvo::wayland
