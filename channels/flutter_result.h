// The result callback of one method call. Answer exactly once, with a value, a
// FlutterError or FlutterMethodNotImplemented; from any thread, now or later (the
// answer is carried to the main loop). A second answer is dropped and logged as
// a programming error; a result destroyed without an answer is logged and the
// caller receives the error "UNANSWERED", so no call is left waiting forever.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "channels/channel_log.h"
#include "channels/method_types.h"

namespace pilvo::channels {

class FlutterResult {
 public:
  // `deliver` receives the one answer; `what` names the call in log lines
  // (e.g. "com.tavik/tracking getRunningApps").
  FlutterResult(std::function<void(MethodResponse)> deliver, std::string what, LogSink log);
  virtual ~FlutterResult();
  FlutterResult(const FlutterResult&) = delete;
  FlutterResult& operator=(const FlutterResult&) = delete;

  void success(Value result = {});
  void error(std::string code, std::optional<std::string> message = {}, Value details = {});
  void error(FlutterError error);
  void notImplemented();
  void respond(MethodResponse response);

  bool answered() const { return answered_.load(); }

 private:
  std::function<void(MethodResponse)> deliver_;
  std::string what_;
  LogSink log_;
  std::atomic<bool> answered_{false};
};

// Code of the error sent for a call whose result was dropped unanswered.
inline constexpr const char* kUnansweredErrorCode = "UNANSWERED";

}  // namespace pilvo::channels
