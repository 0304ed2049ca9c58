#include "interface/interface_channels.h"

#include <string>

namespace pilvo::interface {
namespace {

using channels::Value;
using channels::ValueList;
using channels::ValueMap;

Value optionalText(const std::optional<std::string>& text) { return text ? Value(*text) : Value(); }

Value rowValue(const ActivityRow& row) {
  return ValueMap{{"id", Value::integer(row.id)},
                  {"timestamp", row.timestamp},
                  {"type", row.type},
                  {"bundleId", optionalText(row.bundleId)},
                  {"windowTitle", optionalText(row.windowTitle)},
                  {"synced", row.synced}};
}

// A member that is absent or null gives `fallback`; one of another kind, nullopt.
std::optional<int64_t> wholeNumberOr(const Value& args, const char* key, int64_t fallback) {
  const Value* member = args.find(key);
  if (!member || member->isNull()) return fallback;
  return member->asWholeNumber();
}

}  // namespace

ActivityPlugin::ActivityPlugin(std::shared_ptr<const ActivityStore> store, EventLoop& loop,
                               std::unique_ptr<BackgroundRunner> runner)
    : store_(std::move(store)),
      loop_(loop),
      runner_(runner ? std::move(runner) : std::make_unique<ThreadRunner>()) {}

void ActivityPlugin::registerWith(channels::FlutterPluginRegistrar& registrar,
                                  std::shared_ptr<const ActivityStore> store, EventLoop& loop,
                                  std::unique_ptr<BackgroundRunner> runner) {
  auto channel = channels::FlutterMethodChannel::methodChannelWithName(
      kActivityChannelName, registrar.messenger(), registrar.log());
  registrar.addMethodCallDelegate(
      std::make_shared<ActivityPlugin>(std::move(store), loop, std::move(runner)), *channel);
  registrar.keepAlive(channel);
}

void ActivityPlugin::answerOffTheLoop(std::unique_ptr<channels::FlutterResult> result,
                                      std::function<Outcome(const ActivityStore&)> work) {
  std::shared_ptr<channels::FlutterResult> answer(std::move(result));
  runner_->run([store = store_, &loop = loop_, work = std::move(work), answer]() mutable {
    Outcome outcome = work(*store);
    // The answer moves to the loop: it is answered and released there only.
    loop.post([answer = std::move(answer), outcome = std::move(outcome)]() mutable {
      if (auto* error = std::get_if<StoreError>(&outcome)) {
        answer->error(kStoreErrorCode, error->message);
      } else {
        answer->success(std::move(std::get<Value>(outcome)));
      }
    });
  });
}

void ActivityPlugin::handleMethodCall(const channels::FlutterMethodCall& call,
                                      std::unique_ptr<channels::FlutterResult> result) {
  if (call.method == "eventsAfter") {
    const std::optional<int64_t> afterId = channels::wholeNumberMember(call.arguments, "afterId");
    const std::optional<int64_t> limit = wholeNumberOr(call.arguments, "limit", kDefaultPageSize);
    if (!afterId || !limit || *limit < 1 || *limit > kMaxPageSize) {
      result->error(kInvalidArgsCode, "Expected {\"afterId\": int, \"limit\": 1.." +
                                          std::to_string(kMaxPageSize) + "}");
      return;
    }
    answerOffTheLoop(std::move(result), [afterId = *afterId, limit = static_cast<int>(*limit)](
                                            const ActivityStore& store) -> Outcome {
      auto rows = store.eventsAfter(afterId, limit);
      if (auto* error = std::get_if<StoreError>(&rows)) return *error;
      ValueList list;
      for (const ActivityRow& row : std::get<std::vector<ActivityRow>>(rows)) {
        list.push_back(rowValue(row));
      }
      return Value(std::move(list));
    });
  } else if (call.method == "firstIdSince") {
    const std::string* since = channels::stringMember(call.arguments, "since");
    if (!since) {
      result->error(kInvalidArgsCode, "Expected {\"since\": \"YYYY-MM-DDTHH:MM:SSZ\"}");
      return;
    }
    answerOffTheLoop(std::move(result), [since = *since](const ActivityStore& store) -> Outcome {
      auto first = store.firstIdSince(since);
      if (auto* error = std::get_if<StoreError>(&first)) return *error;
      const auto& id = std::get<std::optional<int64_t>>(first);
      return id ? Value::integer(*id) : Value();
    });
  } else if (call.method == "markSynced") {
    const std::optional<int64_t> upToId = channels::wholeNumberMember(call.arguments, "upToId");
    if (!upToId) {
      result->error(kInvalidArgsCode, "Expected {\"upToId\": int}");
      return;
    }
    answerOffTheLoop(std::move(result), [upToId = *upToId](const ActivityStore& store) -> Outcome {
      auto marked = store.markSynced(upToId);
      if (auto* error = std::get_if<StoreError>(&marked)) return *error;
      return Value::integer(std::get<int64_t>(marked));
    });
  } else {
    result->notImplemented();
  }
}

void InterfacePlugin::registerWith(channels::FlutterPluginRegistrar& registrar,
                                   std::shared_ptr<InterfaceFiles> files) {
  auto channel = channels::FlutterMethodChannel::methodChannelWithName(
      kInterfaceChannelName, registrar.messenger(), registrar.log());
  registrar.addMethodCallDelegate(std::make_shared<InterfacePlugin>(std::move(files)), *channel);
  registrar.keepAlive(channel);
}

void InterfacePlugin::handleMethodCall(const channels::FlutterMethodCall& call,
                                       std::unique_ptr<channels::FlutterResult> result) {
  auto answer = [&](const FileError& error) {
    if (error.ok()) {
      result->success();
    } else {
      result->error(error.code, error.message);
    }
  };
  if (call.method == "writeTextFile") {
    const std::string* path = channels::stringMember(call.arguments, "path");
    const std::string* text = channels::stringMember(call.arguments, "text");
    if (!path || !text) {
      result->error(kInvalidArgsCode, "Expected {\"path\": string, \"text\": string}");
      return;
    }
    answer(files_->writeTextFile(*path, *text));
  } else if (call.method == "loadPreferences") {
    std::string error;
    std::optional<Value> preferences = channels::valueFromJson(files_->loadPreferences(), &error);
    result->success(preferences && preferences->asMap() ? std::move(*preferences)
                                                        : Value(ValueMap{}));
  } else if (call.method == "savePreferences") {
    const Value* preferences = call.arguments.find("preferences");
    if (!preferences || !preferences->asMap()) {
      result->error(kInvalidArgsCode, "Expected {\"preferences\": map}");
      return;
    }
    answer(files_->savePreferences(channels::valueToJson(*preferences)));
  } else {
    result->notImplemented();
  }
}

}  // namespace pilvo::interface
