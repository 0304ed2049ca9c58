#include "overlay/overlay_panel.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace pilvo::overlay {
namespace {

struct AvatarStateName {
  AvatarState state;
  std::string_view raw;
  std::string_view page;
};
constexpr std::array<AvatarStateName, 4> kAvatarStates{{
    {AvatarState::kCalm, "calm", "idle"},
    {AvatarState::kConcerned, "concerned", "thinking"},
    {AvatarState::kAlert, "alert", "nagging"},
    {AvatarState::kCelebrating, "celebrating", "proud"},
}};

constexpr std::array<std::pair<OverlayPosition, std::string_view>, 5> kPositions{{
    {OverlayPosition::kTopLeft, "topLeft"},
    {OverlayPosition::kTopRight, "topRight"},
    {OverlayPosition::kBottomLeft, "bottomLeft"},
    {OverlayPosition::kBottomRight, "bottomRight"},
    {OverlayPosition::kCenter, "center"},
}};

// A longer timer would overflow the loop's millisecond count; a day is "until
// answered or hidden" for any nudge.
constexpr double kLongestDurationSeconds = 86400;

// NaN and negative durations count as 0, longer ones as a day.
double dismissDelay(double durationSeconds) {
  if (std::isnan(durationSeconds)) durationSeconds = 0;
  return std::clamp(durationSeconds, 0.0, kLongestDurationSeconds) + kDismissGraceSeconds;
}

}  // namespace

std::optional<AvatarState> avatarStateFromRaw(std::string_view raw) {
  for (const auto& entry : kAvatarStates) {
    if (entry.raw == raw) return entry.state;
  }
  return std::nullopt;
}

std::optional<OverlayPosition> overlayPositionFromRaw(std::string_view raw) {
  for (const auto& [position, name] : kPositions) {
    if (name == raw) return position;
  }
  return std::nullopt;
}

std::string_view rawString(AvatarState state) {
  return kAvatarStates[static_cast<size_t>(state)].raw;
}

std::string_view pageState(AvatarState state) {
  return kAvatarStates[static_cast<size_t>(state)].page;
}

Placement placementFor(const Rect& visibleFrame, OverlayPosition position) {
  double y = 0;
  switch (position) {
    case OverlayPosition::kTopLeft:
    case OverlayPosition::kTopRight:
      y = visibleFrame.maxY() - kPanelHeight - 20;
      break;
    case OverlayPosition::kBottomLeft:
    case OverlayPosition::kBottomRight:
      y = visibleFrame.y + 20;
      break;
    case OverlayPosition::kCenter:
      y = visibleFrame.y + (visibleFrame.height - kPanelHeight) * 0.5;
      break;
  }
  return {{visibleFrame.maxX() + 10, y}, {visibleFrame.maxX() - kPanelWidth, y}};
}

std::string escapeForScript(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\'':
        out += "\\'";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        // A raw carriage return ends the string literal: the whole call
        // would be a syntax error and the message lost.
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string showMessageScript(std::string_view message, const std::optional<std::string>& state,
                              std::string_view buttonMode) {
  std::string script = "showMessage('" + escapeForScript(message) + "', ";
  script += state ? "'" + *state + "'" : std::string("null");
  script += ", ";
  // The mode comes from the channel as given; escaped like the message so a
  // quote in it can neither break the call nor inject script.
  script += buttonMode.empty() ? std::string("false") : "'" + escapeForScript(buttonMode) + "'";
  script += ")";
  return script;
}

OverlayPanel::OverlayPanel(OverlayPlatform& platform, EventLoop& loop, host::HostLogSink log)
    : platform_(platform),
      loop_(loop),
      log_(std::move(log)),
      self_(std::make_shared<OverlayPanel*>(this)) {
  window_ = platform_.createPanelWindow({0, 0, kPanelWidth, kPanelHeight});
  window_->setIgnoresMouseEvents(true);
  setupWebView();
  info("Tavik: OverlayPanel init complete");
}

OverlayPanel::~OverlayPanel() {
  // Deferred work sees the panel gone from here on.
  self_.reset();
  dismissTimer_.reset();
}

void OverlayPanel::setupWebView() {
  std::weak_ptr<OverlayPanel*> weak = self_;
  window_->setWebEvents({
      [weak] {
        if (auto self = weak.lock()) (*self)->didFinishNavigation();
      },
      [weak](const std::string& description) {
        if (auto self = weak.lock()) (*self)->didFailNavigation(description);
      },
      [weak](const std::string& name, const std::optional<std::string>& body) {
        if (auto self = weak.lock()) (*self)->didReceiveScriptMessage(name, body);
      },
  });
  const std::optional<std::string> path = platform_.resourcePath(kOverlayPageFile);
  if (!path) {
    error("Tavik: ERROR - korima_overlay.html not found in bundle");
    return;
  }
  window_->loadPage(*path);
  info("Tavik: Loading korima_overlay.html from bundle");
}

void OverlayPanel::show(const std::optional<Screen>& screen, const std::string& message,
                        AvatarState avatarState, double durationSeconds, OverlayPosition position,
                        bool buttons, const std::string& buttonMode) {
  if (!buttonMode.empty()) {
    buttonMode_ = buttonMode;
  } else {
    buttonMode_ = buttons ? "nudge" : "";
  }
  info("Tavik: OverlayPanel.show() called with message: " + message +
       ", state: " + std::string(rawString(avatarState)));

  dismissTimer_.reset();
  const int64_t generation = ++showGeneration_;
  window_->orderOut();

  const std::string state(pageState(avatarState));
  shownOn_ = screen;
  if (!screen) {
    error("Tavik: ERROR - No main screen found");
    return;
  }
  const Placement placement = placementFor(screen->visibleFrame, position);
  window_->setFrame({placement.start.x, placement.start.y, kPanelWidth, kPanelHeight});
  if (isLoaded_) callSetState("peeking");

  window_->setIgnoresMouseEvents(false);
  window_->setAlpha(1.0);
  window_->orderFront();

  std::weak_ptr<OverlayPanel*> weak = self_;
  window_->animateOrigin(placement.end, kSlideInSeconds, Curve::kEaseOut,
                         [weak, generation, message, state] {
                           auto self = weak.lock();
                           if (!self) return;
                           OverlayPanel& panel = **self;
                           if (panel.showGeneration_ != generation) return;
                           panel.window_->orderFront();
                           if (panel.isLoaded_) {
                             panel.callShowMessage(message, state);
                           } else {
                             panel.pendingMessage_ = {message, state};
                           }
                         });

  dismissTimer_ = loop_.addTimer(dismissDelay(durationSeconds), false, [weak] {
    auto self = weak.lock();
    if (!self) return;
    OverlayPanel& panel = **self;
    panel.dismissTimer_.reset();  // spent; the loop lets a timer drop itself here
    panel.info("Tavik: Auto-dismissing overlay");
    if (panel.onDismiss) panel.onDismiss();
    panel.hide();
  });
}

void OverlayPanel::hide() {
  dismissTimer_.reset();
  const int64_t generation = ++showGeneration_;
  window_->setIgnoresMouseEvents(true);

  // Out over the edge it came in from, even if the user's focus has moved to
  // another monitor since.
  const std::optional<Screen> screen = shownOn_ ? shownOn_ : platform_.mainScreen();
  if (!screen) {
    window_->orderOut();
    callSetState("idle");
    return;
  }
  const Point target{screen->visibleFrame.maxX() + 10, window_->frame().y};
  std::weak_ptr<OverlayPanel*> weak = self_;
  window_->animateOrigin(target, kSlideOutSeconds, Curve::kEaseIn, [weak, generation] {
    auto self = weak.lock();
    if (!self) return;
    OverlayPanel& panel = **self;
    if (panel.showGeneration_ != generation) return;
    panel.window_->orderOut();
    panel.callSetState("idle");
    panel.info("Tavik: Overlay hidden");
  });
}

void OverlayPanel::updateAvatarState(AvatarState state) { callSetState(pageState(state)); }

void OverlayPanel::updateMessage(const std::string& message) {
  callShowMessage(message, std::nullopt);
}

void OverlayPanel::callShowMessage(const std::string& message,
                                   const std::optional<std::string>& state) {
  std::weak_ptr<OverlayPanel*> weak = self_;
  window_->evaluateScript(showMessageScript(message, state, buttonMode_),
                          [weak](const PanelWindow::ScriptResult& result) {
                            auto self = weak.lock();
                            if (self && result.error) {
                              (*self)->error("Tavik: JS error (showMessage): " + *result.error);
                            }
                          });
}

void OverlayPanel::callSetState(std::string_view state) {
  std::weak_ptr<OverlayPanel*> weak = self_;
  window_->evaluateScript("setState('" + std::string(state) + "')",
                          [weak](const PanelWindow::ScriptResult& result) {
                            auto self = weak.lock();
                            if (self && result.error) {
                              (*self)->error("Tavik: JS error (setState): " + *result.error);
                            }
                          });
}

void OverlayPanel::didFinishNavigation() {
  info("Tavik: korima_overlay.html loaded");
  isLoaded_ = true;
  if (pendingMessage_) {
    auto [message, state] = std::move(*pendingMessage_);
    pendingMessage_.reset();
    callShowMessage(message, state);
  }
}

void OverlayPanel::didFailNavigation(const std::string& description) {
  error("Tavik: WKWebView navigation failed: " + description);
}

void OverlayPanel::didReceiveScriptMessage(const std::string& name,
                                           const std::optional<std::string>& body) {
  if (name != "nudgeResponse" || !body) return;
  info("Tavik: Nudge response \u2014 " + *body);
  if (onNudgeResponse) onNudgeResponse(*body);
  hide();
}

void OverlayPanel::info(const std::string& text) const {
  if (log_) log_(host::HostLogLevel::kInfo, text);
}

void OverlayPanel::error(const std::string& text) const {
  if (log_) log_(host::HostLogLevel::kError, text);
}

}  // namespace pilvo::overlay
