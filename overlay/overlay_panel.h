// OverlayPanel: the avatar panel that slides in from beyond the right edge of
// the main screen with a nudge message and slides out again - after its
// duration, on request, or once the user answers in the page.
//
// The panel drives the page "korima_overlay.html" through the script functions
// showMessage(text, state, buttons) and setState(state); the page answers
// through the script message handler "nudgeResponse". Every show and hide
// bumps a generation, so the completion of an earlier transition never acts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/event_loop.h"
#include "host/host_log.h"
#include "overlay/overlay_platform.h"

namespace pilvo::overlay {

enum class AvatarState { kCalm, kConcerned, kAlert, kCelebrating };
enum class OverlayPosition { kTopLeft, kTopRight, kBottomLeft, kBottomRight, kCenter };

// Raw strings as the channel names them; nullopt for any other string.
std::optional<AvatarState> avatarStateFromRaw(std::string_view raw);
std::optional<OverlayPosition> overlayPositionFromRaw(std::string_view raw);
std::string_view rawString(AvatarState state);
// The state the page's setState receives: "idle", "thinking", "nagging", "proud".
std::string_view pageState(AvatarState state);

inline constexpr double kPanelWidth = 280;
inline constexpr double kPanelHeight = 500;
inline constexpr double kSlideInSeconds = 0.5;
inline constexpr double kSlideOutSeconds = 0.35;
// The auto-dismiss comes this long after the message's own duration.
inline constexpr double kDismissGraceSeconds = 0.6;
inline constexpr const char* kOverlayPageFile = "korima_overlay.html";

// Start and end of the slide-in on a screen whose work area is `visibleFrame`.
struct Placement {
  Point start;
  Point end;
};
Placement placementFor(const Rect& visibleFrame, OverlayPosition position);

// A JavaScript single-quoted string literal's content: backslash, single
// quote, line feed and carriage return escaped; everything else unchanged.
std::string escapeForScript(std::string_view text);
// showMessage('<message>', '<state>' | null, '<mode>' | false)
std::string showMessageScript(std::string_view message, const std::optional<std::string>& state,
                              std::string_view buttonMode);

class OverlayPanel {
 public:
  // Creates the window and web view and starts loading the page.
  OverlayPanel(OverlayPlatform& platform, EventLoop& loop, host::HostLogSink log);
  ~OverlayPanel();
  OverlayPanel(const OverlayPanel&) = delete;
  OverlayPanel& operator=(const OverlayPanel&) = delete;

  std::function<void()> onDismiss;
  std::function<void(const std::string& answer)> onNudgeResponse;
  const std::string& buttonMode() const { return buttonMode_; }

  // Slides in on `screen` (the main screen, asked by the caller); without one
  // it logs and stays hidden.
  void show(const std::optional<Screen>& screen, const std::string& message,
            AvatarState avatarState, double durationSeconds, OverlayPosition position, bool buttons,
            const std::string& buttonMode);
  void hide();
  void updateAvatarState(AvatarState state);
  // Replaces the text on the page at once, keeping the page state.
  void updateMessage(const std::string& message);

  bool isLoaded() const { return isLoaded_; }
  const std::optional<std::pair<std::string, std::string>>& pendingMessage() const {
    return pendingMessage_;
  }

 private:
  void setupWebView();
  void callShowMessage(const std::string& message, const std::optional<std::string>& state);
  void callSetState(std::string_view state);
  void didFinishNavigation();
  void didFailNavigation(const std::string& description);
  void didReceiveScriptMessage(const std::string& name, const std::optional<std::string>& body);
  void info(const std::string& text) const;
  void error(const std::string& text) const;

  OverlayPlatform& platform_;
  EventLoop& loop_;
  host::HostLogSink log_;
  std::unique_ptr<PanelWindow> window_;
  std::unique_ptr<EventSource> dismissTimer_;
  bool isLoaded_ = false;
  std::optional<std::pair<std::string, std::string>> pendingMessage_;
  int64_t showGeneration_ = 0;
  std::optional<Screen> shownOn_;  // the screen of the last show
  std::string buttonMode_;
  // Deferred work (timer, completions, script results) holds this weakly.
  std::shared_ptr<OverlayPanel*> self_;
};

}  // namespace pilvo::overlay
