#include "testing/fake_overlay_platform.h"

namespace pilvo::testing {

void FakeWindowState::startAnimation(FakeAnimation animation, std::function<void()> apply,
                                     overlay::Completion done) {
  const size_t slot = animation.property == "origin" ? 0 : 1;
  const uint64_t id = nextId_++;
  latest_[slot] = id;
  animation.startedAt = loop_.elapsed();
  const double seconds = animation.seconds;
  animations_.push_back(std::move(animation));
  // The value lands when the newest animation of the property ends; every
  // completion runs at its own end.
  timers_.push_back(loop_.addTimer(seconds, false, [this, slot, id, apply, done] {
    if (latest_[slot] == id) apply();
    if (done) done();
  }));
}

void FakePanelWindow::setFrame(const overlay::Rect& frame) {
  frame_ = frame;
  latest_[0] = 0;  // a running move stops
}

void FakePanelWindow::orderFront() {
  visible_ = true;
  ++orderFrontCount_;
}

void FakePanelWindow::animateOrigin(overlay::Point to, double seconds, overlay::Curve curve,
                                    overlay::Completion done) {
  FakeAnimation animation{"origin", to, 0, seconds, curve, 0};
  startAnimation(
      animation,
      [this, to] {
        frame_.x = to.x;
        frame_.y = to.y;
      },
      std::move(done));
}

void FakePanelWindow::evaluateScript(const std::string& script, ScriptDone done) {
  scripts_.push_back(script);
  std::optional<std::string> error = scriptError_;
  if (!loaded_ && !error) {
    error = "ReferenceError: Can't find variable: " + script.substr(0, script.find('('));
  }
  loop_.post([done = std::move(done), error] {
    if (done) done({error, ""});
  });
}

void FakeDimWindow::orderFront() {
  visible_ = true;
  ++orderFrontCount_;
}

void FakeDimWindow::animateAlpha(double to, double seconds, overlay::Curve curve,
                                 overlay::Completion done) {
  FakeAnimation animation{"alpha", {}, to, seconds, curve, 0};
  startAnimation(
      animation, [this, to] { alpha_ = to; }, std::move(done));
}

std::unique_ptr<overlay::PanelWindow> FakeOverlayPlatform::createPanelWindow(overlay::Rect frame) {
  auto window = std::make_unique<FakePanelWindow>(loop_, frame);
  panel_ = window.get();
  return window;
}

std::unique_ptr<overlay::DimWindow> FakeOverlayPlatform::createDimWindow(overlay::Rect frame) {
  auto window = std::make_unique<FakeDimWindow>(loop_, frame);
  dim_ = window.get();
  return window;
}

std::optional<std::string> FakeOverlayPlatform::resourcePath(const std::string& fileName) {
  if (!resourceDir_) return std::nullopt;
  return *resourceDir_ + "/" + fileName;
}

}  // namespace pilvo::testing
