// A pointer for tests on a wlroots compositor without input devices: the
// virtual-pointer protocol on a connection of its own. Its existence gives the
// seat a pointer, so clients start listening to one. Keep one alive for the
// whole session (wlroots 0.15 crashed when the last one went while XWayland ran).
#pragma once

#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstring>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace pilvo::testing {

class VirtualPointer {
 public:
  VirtualPointer() {
    display_ = wl_display_connect(nullptr);
    if (!display_) return;
    wl_registry* registry = wl_display_get_registry(display_);
    static constexpr wl_registry_listener kListener{
        [](void* data, wl_registry* r, uint32_t name, const char* interface, uint32_t) {
          if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
            *static_cast<zwlr_virtual_pointer_manager_v1**>(data) =
                static_cast<zwlr_virtual_pointer_manager_v1*>(
                    wl_registry_bind(r, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
          }
        },
        [](void*, wl_registry*, uint32_t) {}};
    wl_registry_add_listener(registry, &kListener, &manager_);
    wl_display_roundtrip(display_);
    wl_registry_destroy(registry);
    if (manager_)
      pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager_, nullptr);
    wl_display_roundtrip(display_);
  }
  ~VirtualPointer() {
    if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
    if (manager_) zwlr_virtual_pointer_manager_v1_destroy(manager_);
    if (display_) wl_display_disconnect(display_);
  }
  VirtualPointer(const VirtualPointer&) = delete;
  VirtualPointer& operator=(const VirtualPointer&) = delete;

  bool ok() const { return pointer_ != nullptr; }
  // Moves to (x, y) of a layout `width` x `height` (top-left coordinates).
  void moveTo(int x, int y, int width, int height) {
    zwlr_virtual_pointer_v1_motion_absolute(pointer_, now(), x, y, width, height);
    zwlr_virtual_pointer_v1_frame(pointer_);
    wl_display_roundtrip(display_);
  }
  void clickLeft() {
    for (uint32_t state : {1u, 0u}) {
      zwlr_virtual_pointer_v1_button(pointer_, now(), BTN_LEFT, state);
      zwlr_virtual_pointer_v1_frame(pointer_);
    }
    wl_display_roundtrip(display_);
  }

 private:
  uint32_t now() { return ++time_; }
  wl_display* display_ = nullptr;
  zwlr_virtual_pointer_manager_v1* manager_ = nullptr;
  zwlr_virtual_pointer_v1* pointer_ = nullptr;
  uint32_t time_ = 0;
};

}  // namespace pilvo::testing
