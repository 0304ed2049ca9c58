// ScreenDimPanel: a click-through window over the whole main screen, tinted
// 25 % black, that fades in while a nudge is shown and out when it ends.
//
// Like the avatar panel it counts its transitions: a fade-out's completion
// takes the window off screen only if no show came after it, so a nudge shown
// right after the previous one ended keeps its dimming.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "overlay/overlay_platform.h"

namespace pilvo::overlay {

inline constexpr double kDimFadeInSeconds = 0.4;
inline constexpr double kDimFadeOutSeconds = 0.35;
// The window's frame until its first show.
inline constexpr Rect kFallbackScreenFrame{0, 0, 1920, 1080};

class ScreenDimPanel {
 public:
  explicit ScreenDimPanel(OverlayPlatform& platform);
  ~ScreenDimPanel();
  ScreenDimPanel(const ScreenDimPanel&) = delete;
  ScreenDimPanel& operator=(const ScreenDimPanel&) = delete;

  // Fits the window to `screen` (the main screen, asked once by the caller
  // for both panels), puts it on screen and fades to 1; nothing without one.
  void show(const std::optional<Screen>& screen, double fadeDuration);
  // Fades to 0, then takes the window off screen.
  void hide(double fadeDuration);

 private:
  std::unique_ptr<DimWindow> window_;
  int64_t generation_ = 0;
  std::shared_ptr<ScreenDimPanel*> self_;
};

}  // namespace pilvo::overlay
