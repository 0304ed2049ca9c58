// The tray item's picture: the paw print of resources/pawprint.svg, drawn at
// run time in the score's tint (or plain) and dimmed while tracking is paused,
// so no icon files are needed for the looks.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "menubar/tray_platform.h"

namespace pilvo::menubar {

// The sizes sent to a StatusNotifier host, which picks the closest.
inline constexpr int kTrayIconSizes[] = {16, 22, 24, 32, 48};

struct TrayIconLook {
  std::optional<TrayTint> tint;  // none: the plain colour
  bool dimmed = false;
  friend bool operator==(const TrayIconLook&, const TrayIconLook&) = default;
};

// Non-premultiplied RGBA, row by row, `size` x `size`.
struct TrayIconImage {
  int size = 0;
  std::vector<uint8_t> rgba;
};

// The colour of a look as 0xRRGGBB.
uint32_t trayIconColour(const std::optional<TrayTint>& tint);
// Opacity applied to the whole picture when dimmed.
inline constexpr double kDimmedOpacity = 0.35;

// Renders the paw print; an empty image if the SVG cannot be rendered (no SVG
// pixbuf loader installed).
TrayIconImage renderTrayIcon(int size, const TrayIconLook& look);

// ARGB32 in network byte order, as StatusNotifierItem's IconPixmap carries it.
std::vector<uint8_t> toNetworkArgb(const TrayIconImage& image);

}  // namespace pilvo::menubar
