// The main window's frame as it is stored under "MainWindowFrame", and how a
// stored frame becomes a place on the screen.
//
// A frame's size is the size GTK gives the window (gtk_window_get_size():
// everything below the title bar, without the invisible decoration border),
// and its position the window's top-left corner as gtk_window_get_position()
// reports it; both are read and applied the same way, so a frame survives a
// round trip exactly. Stored frames use an origin at the bottom left of the
// screen space with y growing upwards; X11 puts the origin at the top left with y growing
// downwards. Conversion happens here, at the edge, with the screen geometry
// passed in as values, so everything is testable without a display.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pilvo::host {

inline constexpr const char* kMainWindowFrameKey = "MainWindowFrame";
inline constexpr int kMinWindowWidth = 1150;
inline constexpr int kMinWindowHeight = 760;
inline constexpr int kDefaultContentWidth = 1280;
inline constexpr int kDefaultContentHeight = 820;
inline constexpr double kDefaultOriginX = 100;
inline constexpr double kDefaultOriginY = 100;

// A frame in stored form: origin at the bottom left, y upwards.
struct WindowFrame {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const WindowFrame&) const = default;
};

// A rectangle in X screen coordinates: origin at the top left, y downwards.
struct ScreenRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const ScreenRect&) const = default;
};

// A window's content size: what gtk_window_get_size() reports.
struct ContentSize {
  int width = 0;
  int height = 0;
  bool operator==(const ContentSize&) const = default;
};

// The room a window takes around its content (title bar, the border of
// client-side decorations, a window-manager frame), measured from the box
// that the window's position (gtk_window_get_position()) and content size
// span: the title bar lies below the position, borders on every side.
struct Decoration {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return left + right; }
  int height() const { return top + bottom; }
  bool operator==(const Decoration&) const = default;
};

// However small the work area, the content is never made smaller than this.
inline constexpr int kSmallestWindowWidth = 320;
inline constexpr int kSmallestWindowHeight = 240;

struct ScreenLayout {
  // Height of the whole screen space (the bounding box of all monitors).
  int height = 0;
  // Work area of each monitor (without panels), the primary monitor first.
  std::vector<ScreenRect> workareas;
};

// Strict standard Base64 with padding: nullopt on any character outside the
// alphabet, a length that is not a multiple of four, or misplaced padding.
std::optional<std::string> decodeBase64Strict(std::string_view text);

// The frame a stored value asks for, with the defaults for missing members
// and the minimum size applied; nullopt means "no usable value: use the
// default placement" (content 1280 x 820, centred). Nothing stored, text that
// is not Base64, bytes that are not a JSON object, a member that is not a
// finite number: all give nullopt.
std::optional<WindowFrame> restoreFrame(const std::optional<std::string>& stored);

// Base64 of {"x":..,"y":..,"width":..,"height":..}; nullopt when a member is
// not finite (JSON cannot hold it).
std::optional<std::string> encodeFrame(const WindowFrame& frame);

// Height of the title-bar strip that must stay on screen so the window can be
// grabbed and moved.
inline constexpr int kReachableStripHeight = 40;
// How much of that strip must overlap a work area horizontally.
inline constexpr int kReachableStripWidth = 100;

// The minimum content size on a monitor with this work area when
// `decoration` takes room around the content: 1150 x 760 where that fits,
// else shrunk to what fits, so the whole window, its title bar and its
// bottom edge stay on a small screen (1366 x 768, or 1920 x 1080 at scale 2).
ContentSize minimumContentSize(const ScreenRect& workarea, const Decoration& decoration);

// `wanted`, made no larger than what fits the work area with `decoration`
// and no smaller than the minimum there.
ContentSize fitContentSize(ContentSize wanted, const ScreenRect& workarea,
                           const Decoration& decoration);

// Where a restored frame goes on the screen. The position is kept when the
// title-bar strip lies on some monitor's work area, otherwise the window is
// centred on the primary work area. The size is kept where it fits that work
// area with `decoration`; a dimension that does not fit shrinks to it (not
// below minimumContentSize()) and the window moves to that work area's edge.
// With no work areas known the frame is only converted.
ScreenRect placeRestoredFrame(const WindowFrame& frame, const ScreenLayout& layout,
                              const Decoration& decoration = {});

// The stored form of a window's place on the screen.
WindowFrame frameFromScreen(const ScreenRect& rect, int screenHeight);

}  // namespace pilvo::host
