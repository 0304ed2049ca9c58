#include "menubar/menu_bar_controller.h"

#include <utility>

namespace pilvo::menubar {
namespace {

using channels::Value;

// Held weakly: the engine owns the controller, and the reference must not keep
// the tray item alive past the loop and the tray it was made on.
std::weak_ptr<MenuBarController>& sharedController() {
  static std::weak_ptr<MenuBarController> controller;
  return controller;
}

std::string tooltipForScore(int64_t score) { return "Pilvo \u2014 Focus " + std::to_string(score); }

}  // namespace

MenuBarController::MenuBarController(TrayPlatform* platform, EventLoop& loop, AppCommands commands)
    : platform_(platform), loop_(loop), commands_(std::move(commands)) {
  setupStatusItem();
}

std::shared_ptr<MenuBarController> MenuBarController::registerWith(
    channels::FlutterPluginRegistrar& registrar, TrayPlatform* platform, AppCommands commands) {
  auto channel = channels::FlutterMethodChannel::methodChannelWithName(
      kMenuBarChannelName, registrar.messenger(), registrar.log());
  auto eventChannel = channels::FlutterEventChannel::eventChannelWithName(
      kMenuBarEventsChannelName, registrar.messenger(), registrar.log());
  auto controller =
      std::make_shared<MenuBarController>(platform, registrar.loop(), std::move(commands));
  registrar.addMethodCallDelegate(controller, *channel);
  eventChannel->setStreamHandler(controller);
  registrar.keepAlive(channel);
  registrar.keepAlive(eventChannel);
  sharedController() = controller;
  return controller;
}

std::shared_ptr<MenuBarController> MenuBarController::shared() { return sharedController().lock(); }

void MenuBarController::postToSelf(std::function<void(MenuBarController&)> fn) {
  loop_.post([weak = weak_from_this(), fn = std::move(fn)] {
    if (auto self = weak.lock()) fn(*self);
  });
}

void MenuBarController::setupStatusItem() {
  statusItem_.reset();
  if (!platform_) return;
  // The item belongs to the controller, so no click arrives once it is gone.
  statusItem_ = platform_->createItem([this] { statusItemClicked(); });
  statusItem_->setTooltip("Pilvo");
}

void MenuBarController::setVisible(bool visible) {
  postToSelf([visible](MenuBarController& self) {
    if (visible && !self.statusItem_) {
      self.setupStatusItem();
    } else if (!visible && self.statusItem_) {
      self.statusItem_.reset();
    }
  });
}

void MenuBarController::updateStatusIcon(int64_t score) {
  state_.score = score;
  postToSelf([score](MenuBarController& self) {
    if (!self.statusItem_) return;
    self.statusItem_->setTint(tintForScore(score));
    self.statusItem_->setTooltip(tooltipForScore(score));
  });
}

void MenuBarController::updateTrackingIndicator(bool isTracking) {
  postToSelf([isTracking](MenuBarController& self) {
    if (self.statusItem_) self.statusItem_->setDimmed(!isTracking);
  });
}

void MenuBarController::buildAndShowMenu() {
  const std::vector<MenuRow> rows = buildMenuRows(state_);
  if (!statusItem_) return;  // hidden: built and dropped
  statusItem_->popUpMenu(rows, [weak = weak_from_this()](MenuAction action) {
    if (auto self = weak.lock()) self->perform(action);
  });
}

void MenuBarController::perform(MenuAction action) {
  switch (action) {
    case MenuAction::kStartSession:
      return startSession();
    case MenuAction::kEndSession:
      return endSession();
    case MenuAction::kToggleTracking:
      return toggleTracking();
    case MenuAction::kOpenApp:
      return openApp();
    case MenuAction::kQuitApp:
      return quitApp();
    case MenuAction::kNone:
      return;
  }
}

void MenuBarController::openApp() {
  if (commands_.openMainWindow) commands_.openMainWindow();
}

void MenuBarController::quitApp() {
  if (commands_.quit) commands_.quit();
}

void MenuBarController::send(const char* event) {
  // Without a listener the event is dropped, not queued.
  if (eventSink_ && eventSink_->valid()) eventSink_->success(Value(event));
}

void MenuBarController::handleMethodCall(const channels::FlutterMethodCall& call,
                                         std::unique_ptr<channels::FlutterResult> result) {
  const std::string& method = call.method;
  const Value& args = call.arguments;
  // A value of the wrong type counts as missing, as does everything when the
  // arguments are not a map; whole numbers only where an integer is read.
  if (method == "updateScore") {
    if (auto score = channels::wholeNumberMember(args, "score")) updateStatusIcon(*score);
  } else if (method == "updateTrackingState") {
    if (auto tracking = channels::boolMember(args, "isTracking")) {
      state_.isTracking = *tracking;
      updateTrackingIndicator(*tracking);
    }
  } else if (method == "showPopover") {
    buildAndShowMenu();
  } else if (method == "updatePopover") {
    if (auto v = channels::wholeNumberMember(args, "score")) state_.score = *v;
    if (auto v = channels::stringMember(args, "focusState")) state_.focusState = *v;
    if (auto v = channels::wholeNumberMember(args, "deepWork")) state_.deepWork = *v;
    if (auto v = channels::wholeNumberMember(args, "switches")) state_.switches = *v;
    if (auto v = channels::boolMember(args, "isTracking")) state_.isTracking = *v;
  } else if (method == "updateSessionInMenuBar") {
    if (auto v = channels::boolMember(args, "isActive")) state_.sessionActive = *v;
    if (auto v = channels::wholeNumberMember(args, "remaining")) state_.sessionRemaining = *v;
    if (auto v = channels::numberMember(args, "progress")) sessionProgress_ = *v;
  } else {
    result->notImplemented();
    return;
  }
  result->success();
}

std::optional<channels::FlutterError> MenuBarController::onListen(
    const Value&, std::shared_ptr<channels::FlutterEventSink> events) {
  eventSink_ = std::move(events);
  return std::nullopt;
}

std::optional<channels::FlutterError> MenuBarController::onCancel(const Value&) {
  eventSink_.reset();
  return std::nullopt;
}

}  // namespace pilvo::menubar
