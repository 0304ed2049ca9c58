#include "testing/fake_workspace.h"

namespace pilvo::testing {

std::optional<RunningApp> FakeWorkspace::frontmostApplication() {
  ++frontmostQueries_;
  return frontmost_;
}

void FakeWorkspace::emitActivation(const RunningApp& app) {
  frontmost_ = app;
  if (observer_) observer_->appDidActivate(app);
}

void FakeWorkspace::emitTermination(const RunningApp& app) {
  if (frontmost_ && frontmost_->sameApplication(app)) frontmost_.reset();
  if (observer_) observer_->appDidTerminate(app);
}

}  // namespace pilvo::testing
