// The interface's own host channels:
//   "com.pilvo/activity"  - "eventsAfter" {afterId, limit} -> rows of the
//                           agent's store; "firstIdSince" {since} -> the first
//                           id stamped then or later, or null; "markSynced"
//                           {upToId} -> rows marked
//   "com.pilvo/interface" - "writeTextFile" {path, text} -> null (paths from
//                           the save dialog only); "loadPreferences" -> map;
//                           "savePreferences" {preferences} -> null
// Bad arguments answer "INVALID_ARGS"; a store that cannot be read answers
// "STORE_ERROR" with SQLite's description. The store is read and written off
// the main loop (a long first mark, or the agent holding the write lock, must
// not stall the windows and the tray); the answers come on the loop.
#pragma once

#include <memory>

#include "channels/flutter_engine.h"
#include "common/background_runner.h"
#include "common/event_loop.h"
#include "interface/activity_store.h"
#include "interface/interface_files.h"

namespace pilvo::interface {

inline constexpr const char* kActivityChannelName = "com.pilvo/activity";
inline constexpr const char* kInterfaceChannelName = "com.pilvo/interface";
using channels::kInvalidArgsCode;
inline constexpr const char* kStoreErrorCode = "STORE_ERROR";

class ActivityPlugin final : public channels::FlutterPlugin {
 public:
  // `loop` must outlive the plugin; destroying the plugin waits for the
  // store work under way. Without a runner, each call gets its own thread.
  ActivityPlugin(std::shared_ptr<const ActivityStore> store, EventLoop& loop,
                 std::unique_ptr<BackgroundRunner> runner = nullptr);
  static void registerWith(channels::FlutterPluginRegistrar& registrar,
                           std::shared_ptr<const ActivityStore> store, EventLoop& loop,
                           std::unique_ptr<BackgroundRunner> runner = nullptr);
  void handleMethodCall(const channels::FlutterMethodCall& call,
                        std::unique_ptr<channels::FlutterResult> result) override;

 private:
  using Outcome = std::variant<channels::Value, StoreError>;
  // Runs `work` off the loop and answers `result` with its outcome on the loop.
  void answerOffTheLoop(std::unique_ptr<channels::FlutterResult> result,
                        std::function<Outcome(const ActivityStore&)> work);

  std::shared_ptr<const ActivityStore> store_;
  EventLoop& loop_;
  std::unique_ptr<BackgroundRunner> runner_;
};

class InterfacePlugin final : public channels::FlutterPlugin {
 public:
  explicit InterfacePlugin(std::shared_ptr<InterfaceFiles> files) : files_(std::move(files)) {}
  static void registerWith(channels::FlutterPluginRegistrar& registrar,
                           std::shared_ptr<InterfaceFiles> files);
  void handleMethodCall(const channels::FlutterMethodCall& call,
                        std::unique_ptr<channels::FlutterResult> result) override;

 private:
  std::shared_ptr<InterfaceFiles> files_;
};

}  // namespace pilvo::interface
