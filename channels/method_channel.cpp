#include "channels/method_channel.h"

#include "channels/incoming_call.h"

namespace pilvo::channels {

FlutterMethodChannel::FlutterMethodChannel(std::string name, BinaryMessenger& messenger,
                                           LogSink log)
    : name_(std::move(name)), messenger_(messenger), log_(std::move(log)) {
  messenger_.channelCreated(name_, ChannelKind::kMethod);
}

std::shared_ptr<FlutterMethodChannel> FlutterMethodChannel::methodChannelWithName(
    std::string name, BinaryMessenger& messenger, LogSink log) {
  return std::make_shared<FlutterMethodChannel>(std::move(name), messenger, std::move(log));
}

void FlutterMethodChannel::invokeMethod(const std::string& method, Value arguments) {
  messenger_.send(name_, encodeMethodCall({method, std::move(arguments)}));
}

void FlutterMethodChannel::invokeMethod(const std::string& method, Value arguments,
                                        std::function<void(MethodResponse)> reply) {
  if (!reply) {
    invokeMethod(method, std::move(arguments));
    return;
  }
  messenger_.send(
      name_, encodeMethodCall({method, std::move(arguments)}),
      [reply = std::move(reply), log = log_, what = name_ + " " + method](ByteView bytes) {
        auto decoded = decodeMethodResponse(bytes);
        if (!decoded) {
          if (log) log("malformed reply to " + what + ": " + decoded.error);
          reply(FlutterError{"MALFORMED_REPLY", decoded.error, Value()});
          return;
        }
        reply(std::move(*decoded.value));
      });
}

void FlutterMethodChannel::setMethodCallHandler(MethodCallHandler handler) {
  if (!handler) {
    messenger_.setMessageHandler(name_, nullptr);
    return;
  }
  messenger_.setMessageHandler(
      name_, [name = name_, handler = std::move(handler), log = log_](
                 ByteView message, std::unique_ptr<BinaryResponder> responder) {
        auto call = decodeIncomingCall(name, message, *responder, log);
        if (!call) return;
        std::shared_ptr<BinaryResponder> shared = std::move(responder);
        auto result = std::make_unique<FlutterResult>(
            [shared](MethodResponse response) { shared->respond(encodeMethodResponse(response)); },
            "\"" + name + "\" " + call->method, log);
        handler(*call, std::move(result));
      });
}

}  // namespace pilvo::channels
