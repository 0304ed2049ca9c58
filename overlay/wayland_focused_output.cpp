#include "overlay/wayland_focused_output.h"

#include <gdk/gdkwayland.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace pilvo::overlay {
namespace {
constexpr uint32_t kStateActivated = 2;
constexpr uint32_t kManagerVersion = 2;  // output events exist from version 1; parent needs 3

struct Toplevel {
  bool activated = false;
  std::vector<wl_output*> outputs;
};
}  // namespace

// The proxies live on a queue of their own, so GDK's dispatching never runs
// these callbacks and a catch-up here never runs GDK's.
struct WaylandFocusedOutput::State {
  wl_display* display = nullptr;
  wl_event_queue* queue = nullptr;
  wl_registry* registry = nullptr;
  zwlr_foreign_toplevel_manager_v1* manager = nullptr;
  std::map<zwlr_foreign_toplevel_handle_v1*, Toplevel> toplevels;

  ~State() {
    // The manager has no destructor request: it stops and the compositor
    // answers with "finished". A manager destroyed only here would still
    // receive new toplevels, on a queue that no longer exists.
    if (manager) zwlr_foreign_toplevel_manager_v1_stop(manager);
    for (int i = 0; i < 5 && manager; ++i) {
      if (wl_display_roundtrip_queue(display, queue) < 0) break;
    }
    if (manager) zwlr_foreign_toplevel_manager_v1_destroy(manager);
    for (auto& [handle, toplevel] : toplevels) zwlr_foreign_toplevel_handle_v1_destroy(handle);
    if (registry) wl_registry_destroy(registry);
    if (queue) wl_event_queue_destroy(queue);
  }

  static State* of(void* data) { return static_cast<State*>(data); }
  static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                     uint32_t version) {
    if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) != 0) return;
    of(data)->manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                         std::min(version, kManagerVersion)));
    zwlr_foreign_toplevel_manager_v1_add_listener(of(data)->manager, &kManagerListener, data);
  }
  static void globalRemove(void*, wl_registry*, uint32_t) {}
  static void toplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                       zwlr_foreign_toplevel_handle_v1* handle) {
    of(data)->toplevels[handle] = {};
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kHandleListener, data);
  }
  static void finished(void* data, zwlr_foreign_toplevel_manager_v1* manager) {
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    of(data)->manager = nullptr;
  }
  static void title(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
  static void appId(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
  static void outputEnter(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_output* output) {
    of(data)->toplevels[handle].outputs.push_back(output);
  }
  static void outputLeave(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_output* output) {
    std::erase(of(data)->toplevels[handle].outputs, output);
  }
  static void state(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
    bool activated = false;
    const auto* values = static_cast<const uint32_t*>(states->data);
    for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
      if (values[i] == kStateActivated) activated = true;
    }
    of(data)->toplevels[handle].activated = activated;
  }
  static void done(void*, zwlr_foreign_toplevel_handle_v1*) {}
  static void closed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    of(data)->toplevels.erase(handle);
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
  }
  static void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

  static constexpr wl_registry_listener kRegistryListener{global, globalRemove};
  static constexpr zwlr_foreign_toplevel_manager_v1_listener kManagerListener{toplevel, finished};
  static constexpr zwlr_foreign_toplevel_handle_v1_listener kHandleListener{
      title, appId, outputEnter, outputLeave, state, done, closed, parent};
};

WaylandFocusedOutput::WaylandFocusedOutput(std::unique_ptr<State> state)
    : state_(std::move(state)) {}
WaylandFocusedOutput::~WaylandFocusedOutput() = default;

std::unique_ptr<WaylandFocusedOutput> WaylandFocusedOutput::open(GdkDisplay* display) {
  if (!display || !GDK_IS_WAYLAND_DISPLAY(display)) return nullptr;
  auto state = std::make_unique<State>();
  state->display = gdk_wayland_display_get_wl_display(display);
  state->queue = wl_display_create_queue(state->display);
  state->registry = wl_display_get_registry(state->display);
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(state->registry), state->queue);
  wl_registry_add_listener(state->registry, &State::kRegistryListener, state.get());
  // The globals, then the toplevels the manager announces at once.
  if (wl_display_roundtrip_queue(state->display, state->queue) < 0 || !state->manager ||
      wl_display_roundtrip_queue(state->display, state->queue) < 0) {
    return nullptr;
  }
  return std::unique_ptr<WaylandFocusedOutput>(new WaylandFocusedOutput(std::move(state)));
}

GdkMonitor* WaylandFocusedOutput::monitor() {
  if (wl_display_roundtrip_queue(state_->display, state_->queue) < 0) return nullptr;
  GdkDisplay* display = gdk_display_get_default();
  for (const auto& [handle, toplevel] : state_->toplevels) {
    if (!toplevel.activated || toplevel.outputs.empty()) continue;
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
      GdkMonitor* monitor = gdk_display_get_monitor(display, i);
      if (gdk_wayland_monitor_get_wl_output(monitor) == toplevel.outputs.front()) return monitor;
    }
  }
  return nullptr;
}

}  // namespace pilvo::overlay
