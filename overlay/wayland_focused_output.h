// Which monitor shows the focused window, on a wlroots compositor: the
// compositor's toplevel list (foreign-toplevel protocol) bound on GDK's own
// Wayland connection, so that a toplevel's outputs arrive as the very wl_output
// objects behind GDK's monitors.
#pragma once

#include <gdk/gdk.h>

#include <memory>

namespace pilvo::overlay {

class WaylandFocusedOutput {
 public:
  // nullptr when GDK is not on Wayland or the compositor offers no toplevel list.
  static std::unique_ptr<WaylandFocusedOutput> open(GdkDisplay* display);
  ~WaylandFocusedOutput();
  WaylandFocusedOutput(const WaylandFocusedOutput&) = delete;
  WaylandFocusedOutput& operator=(const WaylandFocusedOutput&) = delete;

  // The monitor of the activated toplevel after catching up with the
  // compositor; nullptr when no toplevel is activated or its output is unknown.
  GdkMonitor* monitor();

  struct State;

 private:
  explicit WaylandFocusedOutput(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace pilvo::overlay
