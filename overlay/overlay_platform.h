// What the nudge panels need from the desktop: the main screen, two kinds of
// floating window (the avatar panel with its web view, the click-through dim
// window) and animations that report their end. Value types only; the GTK +
// WebKitGTK implementation lives in gtk_overlay_platform.h, tests use
// testing/fake_overlay_platform.h.
//
// Coordinates use an origin at the bottom left of the screen space with y
// growing upward; the implementation converts at its edge.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace pilvo::overlay {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  Point origin() const { return {x, y}; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// The standard timing curves: ease-out = cubic-bezier(0, 0, 0.58, 1),
// ease-in = cubic-bezier(0.42, 0, 1, 1).
enum class Curve { kEaseOut, kEaseIn };

// The monitor nudges appear on: full geometry and work area.
struct Screen {
  Rect frame;
  Rect visibleFrame;
};

// Called once the animation's duration has elapsed, on the main loop, whether
// or not a later animation has taken over the property since.
using Completion = std::function<void()>;

// A floating window above normal windows on every workspace that never takes
// focus and never appears in a taskbar, pager or window switcher.
class FloatingWindow {
 public:
  virtual ~FloatingWindow() = default;
  virtual Rect frame() const = 0;
  // Moves and sizes at once (no animation); stops a running move.
  virtual void setFrame(const Rect& frame) = 0;
  virtual double alpha() const = 0;
  virtual void setAlpha(double alpha) = 0;
  // Puts the window on screen (above the others) without activating anything.
  virtual void orderFront() = 0;
  virtual void orderOut() = 0;
  virtual bool isVisible() const = 0;
};

// The avatar panel: a window whose only content is the overlay page.
class PanelWindow : public FloatingWindow {
 public:
  struct WebEvents {
    std::function<void()> loadFinished;
    // A committed navigation failed; the argument describes why.
    std::function<void(const std::string& description)> loadFailed;
    // A script message; `body` is empty when the page posted something other
    // than a string.
    std::function<void(const std::string& name, const std::optional<std::string>& body)>
        scriptMessage;
  };
  struct ScriptResult {
    std::optional<std::string> error;  // the evaluation's error description
    std::string json;                  // the script's value as JSON ("" when none)
  };
  using ScriptDone = std::function<void(const ScriptResult& result)>;

  // Pointer input reaches the window only while this is false.
  virtual void setIgnoresMouseEvents(bool ignores) = 0;
  // Moves the origin to `to` over `seconds` along `curve`; the size stays.
  virtual void animateOrigin(Point to, double seconds, Curve curve, Completion done) = 0;

  virtual void setWebEvents(WebEvents events) = 0;
  // Starts loading the page at `path` with read access to its directory.
  virtual void loadPage(const std::string& path) = 0;
  virtual void evaluateScript(const std::string& script, ScriptDone done) = 0;
};

// The dim window: covers its frame, lets every click through, and fades.
class DimWindow : public FloatingWindow {
 public:
  virtual void animateAlpha(double to, double seconds, Curve curve, Completion done) = 0;
};

class OverlayPlatform {
 public:
  virtual ~OverlayPlatform() = default;
  // The monitor of the active window, else the primary, else the first;
  // nullopt when there is no monitor at all.
  virtual std::optional<Screen> mainScreen() = 0;
  // A panel of `size` (hidden, ignoring the mouse), with its web view.
  virtual std::unique_ptr<PanelWindow> createPanelWindow(Rect frame) = 0;
  // A dim window over `frame` (hidden, alpha 0).
  virtual std::unique_ptr<DimWindow> createDimWindow(Rect frame) = 0;
  // Where the named resource lies (file name with extension); nullopt when
  // it is not installed and not in the build tree.
  virtual std::optional<std::string> resourcePath(const std::string& fileName) = 0;
};

}  // namespace pilvo::overlay
