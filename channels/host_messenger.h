// The host's messenger: channel handlers on one side, the UI side (the socket
// bridge, or a test's stand-in) on the other. Everything is delivered on the
// main loop; replies and outgoing messages may be handed in from any thread
// and are carried to the loop in the order they were handed in.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "channels/binary_messenger.h"
#include "channels/channel_log.h"
#include "common/event_loop.h"

namespace pilvo::channels {

class HostMessenger final : public BinaryMessenger {
 public:
  // Receives what the host sends: channel, message and, when the host wants an
  // answer, the callback for the reply (call it once, on the main loop).
  using UiSide =
      std::function<void(const std::string& channel, Bytes message, BinaryReplyCallback reply)>;
  using ChannelObserver = std::function<void(const std::string& channel, ChannelKind kind)>;

  HostMessenger(EventLoop& loop, LogSink log = stderrLogSink());
  ~HostMessenger() override;
  HostMessenger(const HostMessenger&) = delete;
  HostMessenger& operator=(const HostMessenger&) = delete;

  // BinaryMessenger. send() may be called from any thread: the message goes out
  // from the main loop. With no UI side attached the message is dropped and a
  // reply callback receives an empty reply.
  void send(const std::string& channel, Bytes message,
            BinaryReplyCallback reply = nullptr) override;
  void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;
  void channelCreated(const std::string& channel, ChannelKind kind) override;

  // A message from the UI side, on the main loop. The handler of `channel` runs
  // now; `reply` receives its answer exactly once, on the main loop (an empty
  // reply when the channel has no handler).
  void deliverFromUi(const std::string& channel, ByteView message,
                     std::function<void(Bytes reply)> reply);

  // Attaches the UI side (one at a time; nullptr detaches).
  void setUiSide(UiSide ui);
  // Told about every channel created on this messenger, in order.
  void setChannelObserver(ChannelObserver observer);

  bool hasHandler(const std::string& channel) const;
  // True once an event channel of that name was created on this messenger.
  bool isEventChannel(const std::string& channel) const;

  EventLoop& loop() const { return loop_; }
  const LogSink& log() const { return log_; }

 private:
  struct State;
  EventLoop& loop_;
  LogSink log_;
  std::shared_ptr<State> state_;
};

}  // namespace pilvo::channels
