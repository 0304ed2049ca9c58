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
    if (!apps_.contains(name))
      apps_[name] = {.bundleId = name, .localizedName = name, .pid = nextPid_++};
    const uint64_t window = nextWindow_++;
    owners_[window] = name;
    accessibility_.setTitle(window, repairUtf8(title));
    return window;
  }

  void focus(uint64_t window) override {
    RunningApp app = apps_.at(owners_.at(window));
    app.window = window;
    accessibility_.setFocusedTitle(app.pid, accessibility_.titleOf(window));
    const auto front = workspace_.frontmostApplication();
    const uint64_t previous = active_;
    active_ = window;
    if (!front || !front->sameApplication(app)) {
      workspace_.emitActivation(app);
    } else if (previous != window) {
      accessibility_.emitNotificationFor(app.pid, window, kFocusedWindowChanged);
    }
  }

  void rename(uint64_t window, const std::string& title) override {
    const RunningApp& app = apps_.at(owners_.at(window));
    accessibility_.setTitle(window, repairUtf8(title));
    if (window == active_) accessibility_.setFocusedTitle(app.pid, repairUtf8(title));
    accessibility_.emitNotificationFor(app.pid, window, kTitleChanged);
  }

  void closeApp(const std::string& name) override {
    for (const auto& [window, owner] : owners_) {
      if (owner == name) accessibility_.setTitle(window, std::nullopt);
    }
    workspace_.emitTermination(apps_.at(name));
  }

  bool settle(const std::function<bool()>& condition) override { return !condition || condition(); }

 private:
  FakeWorkspace workspace_;
  FakeAccessibility accessibility_;
  std::map<std::string, RunningApp> apps_;
  std::map<uint64_t, std::string> owners_;
  uint64_t nextWindow_ = 0x400001;
  uint64_t active_ = 0;
  int32_t nextPid_ = 4000;
};

INSTANTIATE_TEST_SUITE_P(Fakes, PlatformContractTest, ::testing::Values(DriverFactory([] {
                           return std::make_unique<FakeDesktopDriver>();
                         })),
                         [](const auto&) { return std::string("desktop"); });

}  // namespace
}  // namespace pilvo::testing
