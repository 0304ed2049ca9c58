// The platform contract against the fakes of the test-support library.
#include <map>

#include "common/utf8.h"
#include "testing/fake_accessibility.h"
#include "testing/fake_workspace.h"
#include "x11/platform_contract.h"

namespace pilvo::testing {
namespace {

class FakeDesktopDriver final : public DesktopDriver {
 public:
  Workspace& workspace() override { return workspace_; }
  Accessibility& accessibility() override { return accessibility_; }

  uint64_t openWindow(const std::string& name, const std::string& title) override {
    return open(name, title, kOwnPid);
  }
  uint64_t openWindowInOwnProcess(const std::string& name, const std::string& title) override {
    return open(name, title, nextPid_++);
  }

  void focus(uint64_t window) override {
    const RunningApp app = appOf(window);
    accessibility_.setFocusedTitle(app, accessibility_.titleOf(window));
    const auto front = workspace_.frontmostApplication();
    const uint64_t previous = active_;
    active_ = window;
    if (!front || !front->sameApplication(app)) {
      workspace_.emitActivation(app);
    } else if (previous != window) {
      accessibility_.emitNotificationFor(app, window, kFocusedWindowChanged);
    }
  }

  void rename(uint64_t window, const std::string& title) override {
    const RunningApp app = appOf(window);
    accessibility_.setTitle(window, repairUtf8(title));
    if (window == active_) accessibility_.setFocusedTitle(app, repairUtf8(title));
    accessibility_.emitNotificationFor(app, window, kTitleChanged);
  }

  void closeApp(const std::string& name) override {
    std::optional<RunningApp> app;
    for (const auto& [window, owner] : owners_) {
      if (owner.bundleId != name) continue;
      accessibility_.setTitle(window, std::nullopt);
      app = owner;
    }
    if (app) workspace_.emitTermination(*app);
  }

  bool settle(const std::function<bool()>& condition) override { return !condition || condition(); }

 private:
  static constexpr int32_t kOwnPid = 4000;

  uint64_t open(const std::string& name, const std::string& title, int32_t pid) {
    const uint64_t window = nextWindow_++;
    owners_[window] = {.bundleId = name, .localizedName = name, .pid = pid, .window = window};
    accessibility_.setTitle(window, repairUtf8(title));
    return window;
  }
  RunningApp appOf(uint64_t window) const { return owners_.at(window); }

  FakeWorkspace workspace_;
  FakeAccessibility accessibility_;
  std::map<uint64_t, RunningApp> owners_;
  uint64_t nextWindow_ = 0x400001;
  uint64_t active_ = 0;
  int32_t nextPid_ = kOwnPid + 1;
};

INSTANTIATE_TEST_SUITE_P(Fakes, PlatformContractTest, ::testing::Values(DriverFactory([] {
                           return std::make_unique<FakeDesktopDriver>();
                         })),
                         [](const auto&) { return std::string("desktop"); });

}  // namespace
}  // namespace pilvo::testing
