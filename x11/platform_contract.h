// The behaviour the agent relies on from Workspace and Accessibility, written
// once and run against the X11 platform (under Xvfb + openbox) and against the
// fakes, so the fakes the agent's unit tests use cannot drift from the
// real desktop.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent/agent_platform.h"

namespace pilvo::testing {

// Drives a desktop: opens application windows, focuses them, renames them.
class DesktopDriver {
 public:
  virtual ~DesktopDriver() = default;
  virtual Workspace& workspace() = 0;
  virtual Accessibility& accessibility() = 0;

  // Opens a window of application `name` (a new application when no window of
  // that name is open yet) titled `title`; returns the window. Every window
  // opened this way belongs to one and the same process, whatever its
  // application.
  virtual uint64_t openWindow(const std::string& name, const std::string& title) = 0;
  // The same, but the window is made by a process of its own (as a second
  // terminal or browser profile is).
  virtual uint64_t openWindowInOwnProcess(const std::string& name, const std::string& title) = 0;
  virtual void focus(uint64_t window) = 0;
  // Renames a window the way common toolkits do: WM_NAME and _NET_WM_NAME.
  virtual void rename(uint64_t window, const std::string& title) = 0;
  // Closes every window of application `name`.
  virtual void closeApp(const std::string& name) = 0;
  // Lets everything the desktop has to say arrive; `condition` bounds the wait
  // for asynchronous window-manager work (at most a few seconds).
  virtual bool settle(const std::function<bool()>& condition = {}) = 0;
};

using DriverFactory = std::function<std::unique_ptr<DesktopDriver>()>;

class PlatformContractTest : public ::testing::TestWithParam<DriverFactory> {};

// Records a workspace's notifications while it lives.
struct WorkspaceRecorder : WorkspaceObserver {
  explicit WorkspaceRecorder(Workspace& workspace) : workspace(workspace) {
    workspace.setObserver(this);
  }
  ~WorkspaceRecorder() override { workspace.setObserver(nullptr); }
  void appDidActivate(const RunningApp& app) override { activated.push_back(app); }
  void appDidTerminate(const RunningApp& app) override { terminated.push_back(app); }

  Workspace& workspace;
  std::vector<RunningApp> activated;
  std::vector<RunningApp> terminated;
};

}  // namespace pilvo::testing
