// The channel "com.tavik/tracking": method names, argument reading and the
// shape of every answer. The behaviour sits in FocusTrackingService.
//
// This channel never answers with an error: missing data falls back to
// "Unknown", empty lists or false; unknown method names get the
// not-implemented reply.
#pragma once

#include <functional>
#include <memory>

#include "channels/flutter_engine.h"
#include "tracking/app_index_service.h"
#include "tracking/focus_tracking_service.h"

namespace pilvo::tracking {

inline constexpr const char* kTrackingChannelName = "com.tavik/tracking";

// Builds the installed-application index and answers `result` once it is done
// (possibly later). Without one, "indexAllApps" answers an empty list.
using AppIndexer = std::function<void(std::unique_ptr<channels::FlutterResult> result)>;

// The indexer that answers through `index`: a list of [ID, display name] pairs.
AppIndexer makeAppIndexer(std::shared_ptr<AppIndexService> index);

class FocusTrackingPlugin final : public channels::FlutterPlugin {
 public:
  FocusTrackingPlugin(std::shared_ptr<FocusTrackingService> service, AppIndexer indexer = {});

  // register(with:): creates "com.tavik/tracking" on the registrar's messenger
  // and attaches a new plugin to it. The registrar keeps both alive.
  static void registerWith(channels::FlutterPluginRegistrar& registrar,
                           std::shared_ptr<FocusTrackingService> service, AppIndexer indexer = {});

  void handleMethodCall(const channels::FlutterMethodCall& call,
                        std::unique_ptr<channels::FlutterResult> result) override;

 private:
  std::shared_ptr<FocusTrackingService> service_;
  AppIndexer indexer_;
};

}  // namespace pilvo::tracking
