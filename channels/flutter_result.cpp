#include "channels/flutter_result.h"

namespace pilvo::channels {

FlutterResult::FlutterResult(std::function<void(MethodResponse)> deliver, std::string what,
                             LogSink log)
    : deliver_(std::move(deliver)), what_(std::move(what)), log_(std::move(log)) {}

FlutterResult::~FlutterResult() {
  if (answered_.load()) return;
  if (log_)
    log_("programming error: " + what_ + " was never answered; replying " + kUnansweredErrorCode);
  if (deliver_) {
    deliver_(FlutterError{kUnansweredErrorCode, "The host dropped this call without answering",
                          Value()});
  }
}

void FlutterResult::success(Value result) { respond(MethodResponse(std::move(result))); }

void FlutterResult::error(std::string code, std::optional<std::string> message, Value details) {
  respond(MethodResponse(FlutterError{std::move(code), std::move(message), std::move(details)}));
}

void FlutterResult::error(FlutterError error) { respond(MethodResponse(std::move(error))); }

void FlutterResult::notImplemented() { respond(MethodResponse(FlutterMethodNotImplemented{})); }

void FlutterResult::respond(MethodResponse response) {
  if (answered_.exchange(true)) {
    if (log_)
      log_("programming error: " + what_ + " was answered more than once; extra answer dropped");
    return;
  }
  if (deliver_) deliver_(std::move(response));
}

}  // namespace pilvo::channels
