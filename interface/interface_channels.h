// The interface's own host channels:
//   "com.pilvo/activity"  - "eventsAfter" {afterId, limit} -> rows of the
//                           agent's store; "markSynced" {upToId} -> rows marked
//   "com.pilvo/interface" - "writeTextFile" {path, text} -> null (paths from
//                           the save dialog only); "loadPreferences" -> map;
//                           "savePreferences" {preferences} -> null
// Bad arguments answer "INVALID_ARGS"; a store that cannot be read answers
// "STORE_ERROR" with SQLite's description.
#pragma once

#include <memory>

#include "channels/flutter_engine.h"
#include "interface/activity_store.h"
#include "interface/interface_files.h"

namespace pilvo::interface {

inline constexpr const char* kActivityChannelName = "com.pilvo/activity";
inline constexpr const char* kInterfaceChannelName = "com.pilvo/interface";
inline constexpr const char* kInvalidArgsCode = "INVALID_ARGS";
inline constexpr const char* kStoreErrorCode = "STORE_ERROR";

class ActivityPlugin final : public channels::FlutterPlugin {
 public:
  explicit ActivityPlugin(std::shared_ptr<const ActivityStore> store) : store_(std::move(store)) {}
  static void registerWith(channels::FlutterPluginRegistrar& registrar,
                           std::shared_ptr<const ActivityStore> store);
  void handleMethodCall(const channels::FlutterMethodCall& call,
                        std::unique_ptr<channels::FlutterResult> result) override;

 private:
  std::shared_ptr<const ActivityStore> store_;
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
