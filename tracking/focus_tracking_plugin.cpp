#include "tracking/focus_tracking_plugin.h"

#include <string>
#include <vector>

namespace pilvo::tracking {
namespace {

using channels::Value;
using channels::ValueList;

Value stringList(const std::vector<std::string>& strings) {
  ValueList list;
  list.reserve(strings.size());
  for (const std::string& s : strings) list.emplace_back(s);
  return Value(std::move(list));
}

}  // namespace

AppIndexer makeAppIndexer(std::shared_ptr<AppIndexService> index) {
  return [index = std::move(index)](std::unique_ptr<channels::FlutterResult> result) {
    std::shared_ptr<channels::FlutterResult> pending = std::move(result);
    index->indexAllApps([pending](std::vector<IndexedApp> apps) {
      ValueList answer;
      answer.reserve(apps.size());
      for (IndexedApp& app : apps) {
        answer.emplace_back(ValueList{Value(std::move(app.id)), Value(std::move(app.name))});
      }
      pending->success(Value(std::move(answer)));
    });
  };
}

FocusTrackingPlugin::FocusTrackingPlugin(std::shared_ptr<FocusTrackingService> service,
                                         AppIndexer indexer)
    : service_(std::move(service)), indexer_(std::move(indexer)) {}

void FocusTrackingPlugin::registerWith(channels::FlutterPluginRegistrar& registrar,
                                       std::shared_ptr<FocusTrackingService> service,
                                       AppIndexer indexer) {
  auto channel = channels::FlutterMethodChannel::methodChannelWithName(
      kTrackingChannelName, registrar.messenger(), registrar.log());
  auto plugin = std::make_shared<FocusTrackingPlugin>(std::move(service), std::move(indexer));
  registrar.addMethodCallDelegate(plugin, *channel);
  registrar.keepAlive(channel);
}

void FocusTrackingPlugin::handleMethodCall(const channels::FlutterMethodCall& call,
                                           std::unique_ptr<channels::FlutterResult> result) {
  const std::string& method = call.method;
  if (method == "getActiveAppName") {
    result->success(service_->activeAppName());
  } else if (method == "getAllRunningApps") {
    result->success(stringList(service_->allRunningAppIds()));
  } else if (method == "indexAllApps") {
    if (indexer_) {
      indexer_(std::move(result));
    } else {
      result->success(ValueList{});
    }
  } else if (method == "getRunningAppBundleIds") {
    result->success(stringList(service_->runningRegularAppIds()));
  } else if (method == "getAppSupportPath") {
    result->success(service_->appSupportPath());
  } else if (method == "activateApp") {
    // A value of the wrong type counts as missing, as does anything but a map.
    const std::string* bundleId = channels::stringMember(call.arguments, "bundleId");
    if (!bundleId) {
      result->success(false);
      return;
    }
    service_->scheduleActivation(*bundleId);
    result->success(true);
  } else if (method == "hasPermissions") {
    result->success(service_->hasPermissions());
  } else if (method == "requestPermissions") {
    service_->requestPermissions();
    result->success();
  } else {
    result->notImplemented();
  }
}

}  // namespace pilvo::tracking
