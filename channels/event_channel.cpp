#include "channels/event_channel.h"

#include <atomic>

#include "channels/incoming_call.h"

namespace pilvo::channels {
namespace {

class ChannelEventSink final : public FlutterEventSink {
 public:
  ChannelEventSink(std::string channel, BinaryMessenger& messenger, LogSink log)
      : channel_(std::move(channel)), messenger_(messenger), log_(std::move(log)) {}

  void success(Value event) override {
    if (usable()) messenger_.send(channel_, encodeSuccessEnvelope(event));
  }
  void error(FlutterError error) override {
    if (usable()) messenger_.send(channel_, encodeErrorEnvelope(error));
  }
  void endOfStream() override {
    if (!usable()) return;
    valid_ = false;
    messenger_.send(channel_, {});
  }
  bool valid() const override { return valid_.load(); }
  void invalidate() { valid_ = false; }

 private:
  bool usable() {
    if (valid_.load()) return true;
    if (log_)
      log_("programming error: event on \"" + channel_ + "\" after its stream ended; dropped");
    return false;
  }

  std::string channel_;
  BinaryMessenger& messenger_;
  LogSink log_;
  std::atomic<bool> valid_{true};
};

struct StreamState {
  std::shared_ptr<FlutterStreamHandler> handler;
  std::shared_ptr<ChannelEventSink> sink;
};

}  // namespace

FlutterEventChannel::FlutterEventChannel(std::string name, BinaryMessenger& messenger, LogSink log)
    : name_(std::move(name)), messenger_(messenger), log_(std::move(log)) {
  messenger_.channelCreated(name_, ChannelKind::kEvent);
}

std::shared_ptr<FlutterEventChannel> FlutterEventChannel::eventChannelWithName(
    std::string name, BinaryMessenger& messenger, LogSink log) {
  return std::make_shared<FlutterEventChannel>(std::move(name), messenger, std::move(log));
}

void FlutterEventChannel::setStreamHandler(std::shared_ptr<FlutterStreamHandler> handler) {
  if (!handler) {
    messenger_.setMessageHandler(name_, nullptr);
    return;
  }
  auto state = std::make_shared<StreamState>();
  state->handler = std::move(handler);
  messenger_.setMessageHandler(
      name_, [state, name = name_, &messenger = messenger_, log = log_](
                 ByteView message, std::unique_ptr<BinaryResponder> responder) {
        auto call = decodeIncomingCall(name, message, *responder, log);
        if (!call) return;
        auto reply = [&responder](const std::optional<FlutterError>& error) {
          responder->respond(error ? encodeErrorEnvelope(*error) : encodeSuccessEnvelope(Value()));
        };
        if (call->method == "listen") {
          if (state->sink) {
            state->sink->invalidate();
            state->sink.reset();
            if (auto error = state->handler->onCancel(Value()); error && log) {
              log("failed to cancel the existing stream on \"" + name + "\": " + error->code);
            }
          }
          auto sink = std::make_shared<ChannelEventSink>(name, messenger, log);
          state->sink = sink;
          auto error = state->handler->onListen(call->arguments, sink);
          if (error) {
            sink->invalidate();
            if (state->sink == sink) state->sink.reset();
          }
          reply(error);
        } else if (call->method == "cancel") {
          if (!state->sink) {
            reply(FlutterError{"error", "No active stream to cancel", Value()});
            return;
          }
          state->sink->invalidate();
          state->sink.reset();
          reply(state->handler->onCancel(call->arguments));
        } else {
          responder->respond({});
        }
      });
}

}  // namespace pilvo::channels
