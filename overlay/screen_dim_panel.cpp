#include "overlay/screen_dim_panel.h"

namespace pilvo::overlay {

ScreenDimPanel::ScreenDimPanel(OverlayPlatform& platform)
    : window_(platform.createDimWindow(kFallbackScreenFrame)),
      self_(std::make_shared<ScreenDimPanel*>(this)) {
  window_->setAlpha(0.0);
}

ScreenDimPanel::~ScreenDimPanel() { self_.reset(); }

void ScreenDimPanel::show(const std::optional<Screen>& screen, double fadeDuration) {
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
