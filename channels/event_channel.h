// A named event channel: the UI side sends "listen" and later "cancel"; the
// stream handler gets an event sink with listen that is valid until cancel.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "channels/binary_messenger.h"
#include "channels/channel_log.h"
#include "channels/method_types.h"

namespace pilvo::channels {

// Sends events to the current listener. After cancel (or a newer listen) the
// sink is void: further events are dropped and logged.
class FlutterEventSink {
 public:
  virtual ~FlutterEventSink() = default;
  virtual void success(Value event) = 0;
  virtual void error(FlutterError error) = 0;
  // End of stream (an empty message on the channel); the sink is void afterwards.
  virtual void endOfStream() = 0;
  virtual bool valid() const = 0;
};

class FlutterStreamHandler {
 public:
  virtual ~FlutterStreamHandler() = default;
  // onListen(withArguments:eventSink:); an error is sent back as the reply to "listen".
  virtual std::optional<FlutterError> onListen(const Value& arguments,
                                               std::shared_ptr<FlutterEventSink> events) = 0;
  // onCancel(withArguments:).
  virtual std::optional<FlutterError> onCancel(const Value& arguments) = 0;
};

class FlutterEventChannel {
 public:
  // The messenger must outlive the channel; the handler lives as long as the
  // messenger keeps it (see setStreamHandler).
  FlutterEventChannel(std::string name, BinaryMessenger& messenger, LogSink log = stderrLogSink());
  static std::shared_ptr<FlutterEventChannel> eventChannelWithName(std::string name,
                                                                   BinaryMessenger& messenger,
                                                                   LogSink log = stderrLogSink());

  const std::string& name() const { return name_; }

  // setStreamHandler: the messenger holds `handler` until it is replaced. A
  // "listen" while a stream is active cancels the old stream first (its sink
  // becomes void). "cancel" without an active stream is answered with the
  // error "error" / "No active stream to cancel". nullptr removes the handler.
  void setStreamHandler(std::shared_ptr<FlutterStreamHandler> handler);

 private:
  std::string name_;
  BinaryMessenger& messenger_;
  LogSink log_;
};

}  // namespace pilvo::channels
