// A named method channel with the standard method codec.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "channels/binary_messenger.h"
#include "channels/channel_log.h"
#include "channels/flutter_result.h"
#include "channels/method_types.h"

namespace pilvo::channels {

using MethodCallHandler =
    std::function<void(const FlutterMethodCall& call, std::unique_ptr<FlutterResult> result)>;

class FlutterMethodChannel {
 public:
  // methodChannelWithName:binaryMessenger:. The messenger must outlive the channel.
  FlutterMethodChannel(std::string name, BinaryMessenger& messenger, LogSink log = stderrLogSink());
  static std::shared_ptr<FlutterMethodChannel> methodChannelWithName(std::string name,
                                                                     BinaryMessenger& messenger,
                                                                     LogSink log = stderrLogSink());

  const std::string& name() const { return name_; }
  BinaryMessenger& messenger() const { return messenger_; }

  // invokeMethod:arguments: - a call to the UI side without a reply callback.
  void invokeMethod(const std::string& method, Value arguments = {});
  // With a reply callback (not-implemented arrives as FlutterMethodNotImplemented;
  // an undecodable reply as FlutterError "MALFORMED_REPLY").
  void invokeMethod(const std::string& method, Value arguments,
                    std::function<void(MethodResponse)> reply);

  // Every call on this channel goes to `handler` on the main loop; calls that
  // cannot be decoded are answered with the error "MALFORMED_CALL". nullptr
  // removes the handler (calls are then answered as not implemented).
  void setMethodCallHandler(MethodCallHandler handler);

 private:
  std::string name_;
  BinaryMessenger& messenger_;
  LogSink log_;
};

}  // namespace pilvo::channels
