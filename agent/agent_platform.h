// What the activity agent needs from the desktop. The X11 implementation lives
// in x11/; tests use the fakes of the test-support library.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/running_app.h"

namespace pilvo {

class WorkspaceObserver {
 public:
  virtual ~WorkspaceObserver() = default;
  // Another application came to the front (a move between windows of the same
  // application is not an activation).
  virtual void appDidActivate(const RunningApp& app) = 0;
  // The application's last window is gone or its process exited.
  virtual void appDidTerminate(const RunningApp& app) = 0;
};

// Frontmost application and the activation and termination notifications.
class Workspace {
 public:
  virtual ~Workspace() = default;
  virtual std::optional<RunningApp> frontmostApplication() = 0;
  // Delivers notifications to `observer` until called again with nullptr.
  virtual void setObserver(WorkspaceObserver* observer) = 0;
};

enum class InputKind { kKeyDown, kMouseMoved, kLeftMouseDown };

// Seconds since the last input of a kind, for the whole session.
class InputIdleness {
 public:
  virtual ~InputIdleness() = default;
  virtual double secondsSinceLastEvent(InputKind kind) = 0;
  // The machine is about to sleep, and the clocks behind these values may not
  // count the sleep: input seen so far stops counting. Until the next input
  // of a kind, that kind reads infinite.
  virtual void forgetInputSoFar() = 0;
};

// Handle of a window (or other titled element) named by a notification.
using ElementRef = uint64_t;

inline constexpr std::string_view kFocusedWindowChanged = "AXFocusedWindowChanged";
inline constexpr std::string_view kTitleChanged = "AXTitleChanged";

// A live title observer; destroying it detaches it from the application.
class AccessibilityObserver {
 public:
  virtual ~AccessibilityObserver() = default;
};

using AccessibilityCallback =
    std::function<void(ElementRef element, std::string_view notification)>;

// Trust, window titles and title observation.
class Accessibility {
 public:
  virtual ~Accessibility() = default;
  virtual bool isProcessTrusted() = 0;
  // Asks the desktop to prompt the user for trust; returns at once.
  virtual void requestTrust() = 0;
  // Title of the application's focused window; nullopt when it cannot be read.
  virtual std::optional<std::string> focusedWindowTitle(const RunningApp& app) = 0;
  // Title of a window named by a notification; nullopt when it has none.
  virtual std::optional<std::string> titleOf(ElementRef element) = 0;
  // Observes title changes and focused-window moves of `app`, including the
  // windows it opens later. nullptr when no observer can be made for it.
  virtual std::unique_ptr<AccessibilityObserver> createObserver(const RunningApp& app,
                                                                AccessibilityCallback callback) = 0;
};

}  // namespace pilvo
