// The byte-level messenger every channel is created on.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channels/standard_codec.h"

namespace pilvo::channels {

// Answers one incoming message. respond() may be called from any thread; the
// reply is carried to the main loop. An empty reply means "no handler" /
// not implemented.
class BinaryResponder {
 public:
  virtual ~BinaryResponder() = default;
  virtual void respond(Bytes reply) = 0;
};

// Gets the incoming message and the responder for it; runs on the main loop.
using BinaryMessageHandler =
    std::function<void(ByteView message, std::unique_ptr<BinaryResponder> responder)>;
// Gets the reply to an outgoing message (empty when the other side had no handler).
using BinaryReplyCallback = std::function<void(ByteView reply)>;

enum class ChannelKind { kMethod, kEvent };

class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Sends `message` to the UI side on `channel`. Without a reply callback the
  // other side is not asked to answer.
  virtual void send(const std::string& channel, Bytes message,
                    BinaryReplyCallback reply = nullptr) = 0;

  // Installs (or, with nullptr, removes) the handler for messages arriving on
  // `channel`. A later handler replaces the earlier one.
  virtual void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;

  // Called by the channel classes when they are created, so the messenger can
  // keep a record and route event channels. Default: nothing.
  virtual void channelCreated(const std::string& /*channel*/, ChannelKind /*kind*/) {}
};

}  // namespace pilvo::channels
