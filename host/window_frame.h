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

// Where a restored frame goes on the screen. The size is kept, but never
// larger than the largest work area (nor smaller than the minimum size); the
// position is kept when the title-bar strip lies on some monitor's work area,
// otherwise the window is centred on the primary work area. With no work
// areas known the frame is only converted.
ScreenRect placeRestoredFrame(const WindowFrame& frame, const ScreenLayout& layout);

// The stored form of a window's place on the screen.
WindowFrame frameFromScreen(const ScreenRect& rect, int screenHeight);

}  // namespace pilvo::host
