#include "overlay/screen_dim_panel.h"

namespace pilvo::overlay {

ScreenDimPanel::ScreenDimPanel(OverlayPlatform& platform)
    : platform_(platform), self_(std::make_shared<ScreenDimPanel*>(this)) {
  const std::optional<Screen> screen = platform_.mainScreen();
  window_ = platform_.createDimWindow(screen ? screen->frame : kFallbackScreenFrame);
  window_->setAlpha(0.0);
}

ScreenDimPanel::~ScreenDimPanel() { self_.reset(); }

void ScreenDimPanel::show(double fadeDuration) {
  const std::optional<Screen> screen = platform_.mainScreen();
  if (!screen) return;
  ++generation_;
  window_->setFrame(screen->frame);
  window_->orderFront();
  window_->animateAlpha(1.0, fadeDuration, Curve::kEaseOut, [] {});
}

void ScreenDimPanel::hide(double fadeDuration) {
  const int64_t generation = ++generation_;
  std::weak_ptr<ScreenDimPanel*> weak = self_;
  window_->animateAlpha(0.0, fadeDuration, Curve::kEaseIn, [weak, generation] {
    auto self = weak.lock();
    if (self && (*self)->generation_ == generation) (*self)->window_->orderOut();
  });
}

}  // namespace pilvo::overlay
