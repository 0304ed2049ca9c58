// OverlayPlatform on the virtual clock: windows remember their frame, alpha,
// visibility and input state; every animation is recorded and completes when
// its duration has passed on the FakeEventLoop (a later animation of the same
// property takes over the value but, as on the desktop, does not cancel the
// earlier completion). Script evaluations are recorded and answered on the
// loop; the page loads only when the test says so.
//
//   FakeOverlayPlatform platform(loop);
//   platform.setScreen({{0, 0, 1440, 900}, {0, 25, 1440, 875}});
//   ... panel.show(...); loop.advance(0.5);
//   platform.panel()->scripts();
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/event_loop.h"
#include "overlay/overlay_platform.h"
#include "testing/fake_event_loop.h"

namespace pilvo::testing {

class FakeOverlayPlatform;

struct FakeAnimation {
  std::string property;  // "origin" or "alpha"
  overlay::Point toOrigin;
  double toAlpha = 0;
  double seconds = 0;
  overlay::Curve curve = overlay::Curve::kEaseOut;
  double startedAt = 0;  // loop.elapsed()
};

// What both fake windows share.
class FakeWindowState {
 public:
  explicit FakeWindowState(FakeEventLoop& loop, overlay::Rect frame) : frame_(frame), loop_(loop) {}
  overlay::Rect frame_;
  double alpha_ = 1.0;
  bool visible_ = false;
  int orderFrontCount_ = 0;
  std::vector<FakeAnimation> animations_;

 protected:
  void startAnimation(FakeAnimation animation, std::function<void()> apply,
                      overlay::Completion done);
  FakeEventLoop& loop_;
  uint64_t latest_[2] = {0, 0};  // newest animation id per property: origin, alpha
  uint64_t nextId_ = 1;
  std::vector<std::unique_ptr<EventSource>> timers_;
};

class FakePanelWindow final : public overlay::PanelWindow, public FakeWindowState {
 public:
  FakePanelWindow(FakeEventLoop& loop, overlay::Rect frame) : FakeWindowState(loop, frame) {}

  overlay::Rect frame() const override { return frame_; }
  void setFrame(const overlay::Rect& frame) override;
  double alpha() const override { return alpha_; }
  void setAlpha(double alpha) override { alpha_ = alpha; }
  void orderFront() override;
  void orderOut() override { visible_ = false; }
  bool isVisible() const override { return visible_; }
  void setIgnoresMouseEvents(bool ignores) override { ignoresMouse_ = ignores; }
  void animateOrigin(overlay::Point to, double seconds, overlay::Curve curve,
                     overlay::Completion done) override;
  void setWebEvents(WebEvents events) override { events_ = std::move(events); }
  void loadPage(const std::string& path) override { loadedPath_ = path; }
  void evaluateScript(const std::string& script, ScriptDone done) override;

  // Test controls: the page.
  void finishLoad() {
    loaded_ = true;
    events_.loadFinished();
  }
  void failLoad(const std::string& description) { events_.loadFailed(description); }
  void post(const std::string& name, std::optional<std::string> body) {
    events_.scriptMessage(name, body);
  }
  // Every later evaluation reports this error (nullopt: success). Until the
  // page has loaded, evaluations fail as the empty page's would.
  void setScriptError(std::optional<std::string> error) { scriptError_ = std::move(error); }
  std::vector<std::string> takeScripts() { return std::exchange(scripts_, {}); }
  const std::vector<std::string>& scripts() const { return scripts_; }
  bool ignoresMouse() const { return ignoresMouse_; }
  const std::optional<std::string>& loadedPath() const { return loadedPath_; }

 private:
  WebEvents events_;
  bool loaded_ = false;
  bool ignoresMouse_ = false;
  std::optional<std::string> loadedPath_;
  std::optional<std::string> scriptError_;
  std::vector<std::string> scripts_;
};

class FakeDimWindow final : public overlay::DimWindow, public FakeWindowState {
 public:
  FakeDimWindow(FakeEventLoop& loop, overlay::Rect frame) : FakeWindowState(loop, frame) {
    alpha_ = 0;
  }
  overlay::Rect frame() const override { return frame_; }
  void setFrame(const overlay::Rect& frame) override { frame_ = frame; }
  double alpha() const override { return alpha_; }
  void setAlpha(double alpha) override { alpha_ = alpha; }
  void orderFront() override;
  void orderOut() override { visible_ = false; }
  bool isVisible() const override { return visible_; }
  void animateAlpha(double to, double seconds, overlay::Curve curve,
                    overlay::Completion done) override;
};

class FakeOverlayPlatform final : public overlay::OverlayPlatform {
 public:
  explicit FakeOverlayPlatform(FakeEventLoop& loop) : loop_(loop) {}

  std::optional<overlay::Screen> mainScreen() override { return screen_; }
  std::unique_ptr<overlay::PanelWindow> createPanelWindow(overlay::Rect frame) override;
  std::unique_ptr<overlay::DimWindow> createDimWindow(overlay::Rect frame) override;
  std::optional<std::string> resourcePath(const std::string& fileName) override;

  // Test controls.
  void setScreen(std::optional<overlay::Screen> screen) { screen_ = screen; }
  void setResourceDir(std::optional<std::string> dir) { resourceDir_ = std::move(dir); }
  // The last windows created (the platform does not own them).
  FakePanelWindow* panel() const { return panel_; }
  FakeDimWindow* dim() const { return dim_; }

 private:
  FakeEventLoop& loop_;
  std::optional<overlay::Screen> screen_ = overlay::Screen{{0, 0, 1440, 900}, {0, 25, 1440, 875}};
  std::optional<std::string> resourceDir_ = std::string("/fake/share/pilvo");
  FakePanelWindow* panel_ = nullptr;
  FakeDimWindow* dim_ = nullptr;
};

}  // namespace pilvo::testing
