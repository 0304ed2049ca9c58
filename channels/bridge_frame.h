// Framing of the socket bridge (docs/bridge-protocol.md). Every frame:
//   uint32 LE  length of the rest of the frame
//   uint8      kind: 1 message, 2 reply, 3 error
//   uint32 LE  id: message - 0 when no reply is wanted, else the sender's id;
//                  reply   - the id of the message answered; error - 0
//   message:   uint16 LE channel name length, channel name (UTF-8), payload
//   reply:     payload (empty = not implemented / no handler)
//   error:     UTF-8 text saying why the sender closes the connection
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "channels/standard_codec.h"

namespace pilvo::channels {

enum class FrameKind : uint8_t { kMessage = 1, kReply = 2, kError = 3 };

struct Frame {
  FrameKind kind = FrameKind::kMessage;
  uint32_t id = 0;
  std::string channel;  // messages only
  Bytes payload;
  friend bool operator==(const Frame&, const Frame&) = default;
};

inline constexpr size_t kFrameHeaderBytes = 4;             // the length field
inline constexpr size_t kDefaultMaxFrameBytes = 16 << 20;  // length field limit
inline constexpr size_t kMaxChannelNameBytes = 1024;

Bytes encodeFrame(const Frame& frame);

// Cuts a byte stream into frames. Once a frame is malformed or too large the
// reader stays failed; it never buffers more than one frame's worth of bytes.
class FrameReader {
 public:
  explicit FrameReader(size_t maxFrameBytes = kDefaultMaxFrameBytes)
      : maxFrameBytes_(maxFrameBytes) {}

  // Appends received bytes. Returns false when the stream is (already) broken.
  bool feed(ByteView bytes);
  // The next complete frame, or nullopt when more bytes are needed or the
  // stream is broken (see failed()).
  std::optional<Frame> next();

  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  size_t buffered() const { return buffer_.size() - start_; }
  size_t maxFrameBytes() const { return maxFrameBytes_; }

 private:
  bool checkHeader();
  size_t maxFrameBytes_;
  Bytes buffer_;
  size_t start_ = 0;
  std::string error_;
};

}  // namespace pilvo::channels
