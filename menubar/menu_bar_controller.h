// The tray item and both menu bar channels: "com.tavik/menubar" (the interface
// pushes the score, the menu's figures, the tracking and session state) and
// "com.tavik/menubar_events" (the menu's commands go out as plain strings).
// Values are kept as they arrive and nothing is persisted; the menu is built
// from them at each opening.
//
// The channel never answers with an error: a missing or mistyped argument
// leaves its field as it was, and the reply is still null.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "channels/flutter_engine.h"
#include "common/event_loop.h"
#include "menubar/menu_model.h"
#include "menubar/tray_platform.h"

namespace pilvo::menubar {

inline constexpr const char* kMenuBarChannelName = "com.tavik/menubar";
inline constexpr const char* kMenuBarEventsChannelName = "com.tavik/menubar_events";

// What "Open Pilvo" and "Quit Pilvo" do in the application.
struct AppCommands {
  std::function<void()> openMainWindow;  // bring the main window forward
  std::function<void()> quit;            // the application's normal quit path
};

class MenuBarController final : public channels::FlutterPlugin,
                                public channels::FlutterStreamHandler,
                                public std::enable_shared_from_this<MenuBarController> {
 public:
  // `platform` may be null: then there is never a status item (the menu is
  // built and dropped). `platform` and `loop` must outlive the controller.
  // The constructor sets up the status item.
  MenuBarController(TrayPlatform* platform, EventLoop& loop, AppCommands commands);

  // register(with:): both channels on the registrar's messenger, a new
  // controller as their delegate and stream handler, stored in shared().
  static std::shared_ptr<MenuBarController> registerWith(
      channels::FlutterPluginRegistrar& registrar, TrayPlatform* platform, AppCommands commands);
  // The controller created by the latest registerWith(); the settings bridge
  // reaches the item through it.
  static std::shared_ptr<MenuBarController> shared();

  // Shows or hides the item, on the next turn of the loop. A new item is
  // plain: tint and dimmed look return with the next update.
  void setVisible(bool visible);
  void setupStatusItem();
  void updateStatusIcon(int64_t score);
  void updateTrackingIndicator(bool isTracking);
  void buildAndShowMenu();
  void statusItemClicked() { buildAndShowMenu(); }

  // The menu's commands.
  void perform(MenuAction action);
  void startSession() { send("startSession"); }
  void endSession() { send("endSession"); }
  void toggleTracking() { send("toggleTracking"); }
  void openApp();
  void quitApp();

  void handleMethodCall(const channels::FlutterMethodCall& call,
                        std::unique_ptr<channels::FlutterResult> result) override;
  std::optional<channels::FlutterError> onListen(
      const channels::Value& arguments,
      std::shared_ptr<channels::FlutterEventSink> events) override;
  std::optional<channels::FlutterError> onCancel(const channels::Value& arguments) override;

  // The fields the menu is built from.
  const MenuState& state() const { return state_; }
  double sessionProgress() const { return sessionProgress_; }
  bool hasStatusItem() const { return statusItem_ != nullptr; }

 private:
  void send(const char* event);
  // Runs `fn` on the next turn of the loop unless the controller is gone by then.
  void postToSelf(std::function<void(MenuBarController&)> fn);

  TrayPlatform* platform_;
  EventLoop& loop_;
  AppCommands commands_;
  std::unique_ptr<TrayItem> statusItem_;
  std::shared_ptr<channels::FlutterEventSink> eventSink_;
  MenuState state_;  // currentScore, currentFocusState, ... sessionRemaining
  double sessionProgress_ = 0.0;
};

}  // namespace pilvo::menubar
