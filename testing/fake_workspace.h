// Workspace whose frontmost application and notifications are set by the test.
#pragma once

#include <optional>

#include "agent/agent_platform.h"

namespace pilvo::testing {

class FakeWorkspace final : public Workspace {
 public:
  std::optional<RunningApp> frontmostApplication() override;
  void setObserver(WorkspaceObserver* observer) override { observer_ = observer; }

  // Test controls.
  void setFrontmost(std::optional<RunningApp> app) { frontmost_ = std::move(app); }
  // Makes `app` frontmost and tells the observer, as the desktop does when
  // another application comes to the front.
  void emitActivation(const RunningApp& app);
  // Tells the observer that `app` ended; when it was frontmost, nothing is
  // frontmost any more.
  void emitTermination(const RunningApp& app);

  WorkspaceObserver* observer() const { return observer_; }
  int frontmostQueries() const { return frontmostQueries_; }

 private:
  std::optional<RunningApp> frontmost_;
  WorkspaceObserver* observer_ = nullptr;
  int frontmostQueries_ = 0;
};

}  // namespace pilvo::testing
