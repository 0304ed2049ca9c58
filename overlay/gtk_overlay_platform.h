// The nudge panels on GTK 3 + WebKitGTK 4.1 under X11, and on Wayland
// compositors that offer layer shell (wlroots).
//
// Both windows are popup (override-redirect) windows: the window manager never
// places, decorates, focuses or lists them, so they appear exactly on their
// path, on every workspace, and the user's window keeps the keyboard. Each
// ordering-in raises them above the managed windows; the panel is raised after
// the dim window. Pointer input is switched with the input shape (empty =
// click-through). With a compositor the windows use an RGBA visual; without
// one the dim window never maps (an opaque black screen would be worse than no
// dimming) and the page gets an opaque background.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "common/event_loop.h"
#include "overlay/overlay_platform.h"

namespace pilvo::overlay {

class GtkOverlayPlatform final : public OverlayPlatform {
 public:
  // `loop` runs the animations' completions.
  explicit GtkOverlayPlatform(EventLoop& loop);
  ~GtkOverlayPlatform() override;

  // A WebKitWebView whose web process the panel's page shares (the
  // interface's); set before the panel is made. Null: a process of its own.
  void setRelatedWebView(GtkWidget* view);

  // Whether GDK runs on a Wayland compositor that offers layer shell: the
  // windows are then layer surfaces (dim on the top layer, panel on the
  // overlay layer), and the main screen is the output of the focused window
  // (from the compositor's toplevel list), else the first. On Wayland
  // without layer shell there is no main screen, so no nudge shows.
  static bool layerShell();
  // Whether the screen has a compositing manager now.
  static bool composited();

  // For benchmarks: called each time the panel window paints its content
  // (moved false) or moves to a new animation frame (moved true), with the
  // panel's x (bottom-left coordinates) at that moment.
  static void setPanelFrameObserver(std::function<void(bool moved, double x)> observer);

  std::optional<Screen> mainScreen() override;
  std::unique_ptr<PanelWindow> createPanelWindow(Rect frame) override;
  std::unique_ptr<DimWindow> createDimWindow(Rect frame) override;
  // Looks in <exe>/../share/pilvo, the configured data directory, then
  // <exe>/../resources (the build tree).
  std::optional<std::string> resourcePath(const std::string& fileName) override;

 private:
  EventLoop& loop_;
  GtkWidget* relatedView_ = nullptr;  // weak: null once the view is finalized
};

}  // namespace pilvo::overlay
