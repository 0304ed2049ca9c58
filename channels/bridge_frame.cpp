#include "channels/bridge_frame.h"

#include <glib.h>

#include <cstring>

namespace pilvo::channels {
namespace {

// Body bytes before the payload: kind + id (+ channel length for messages).
constexpr size_t kReplyPrefix = 1 + 4;
constexpr size_t kMessagePrefix = 1 + 4 + 2;

void putU32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t getU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

Bytes encodeFrame(const Frame& frame) {
  const bool isMessage = frame.kind == FrameKind::kMessage;
  const size_t body =
      (isMessage ? kMessagePrefix + frame.channel.size() : kReplyPrefix) + frame.payload.size();
  Bytes out;
  out.reserve(kFrameHeaderBytes + body);
  putU32(out, static_cast<uint32_t>(body));
  out.push_back(static_cast<uint8_t>(frame.kind));
  putU32(out, frame.id);
  if (isMessage) {
    out.push_back(static_cast<uint8_t>(frame.channel.size()));
    out.push_back(static_cast<uint8_t>(frame.channel.size() >> 8));
    out.insert(out.end(), frame.channel.begin(), frame.channel.end());
  }
  out.insert(out.end(), frame.payload.begin(), frame.payload.end());
  return out;
}

bool FrameReader::feed(ByteView bytes) {
  if (failed()) return false;
  // Drop consumed bytes before growing, so the buffer holds at most one frame.
  if (start_ > 0 && (start_ == buffer_.size() || start_ >= 65536)) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return checkHeader();
}

bool FrameReader::checkHeader() {
  if (buffered() < kFrameHeaderBytes) return true;
  const uint32_t length = getU32(buffer_.data() + start_);
  if (length > maxFrameBytes_) {
    error_ = "frame of " + std::to_string(length) + " bytes is larger than the limit of " +
             std::to_string(maxFrameBytes_) + " bytes";
    return false;
  }
  if (length < kReplyPrefix) {
    error_ = "frame of " + std::to_string(length) + " bytes is too short to hold a kind and an id";
    return false;
  }
  return true;
}

std::optional<Frame> FrameReader::next() {
  if (failed() || !checkHeader() || buffered() < kFrameHeaderBytes) return std::nullopt;
  const uint8_t* p = buffer_.data() + start_;
  const size_t length = getU32(p);
  if (buffered() < kFrameHeaderBytes + length) return std::nullopt;
  const uint8_t* body = p + kFrameHeaderBytes;
  const uint8_t* end = body + length;
  Frame frame;
  const uint8_t kind = body[0];
  frame.id = getU32(body + 1);
  const uint8_t* payload = body + kReplyPrefix;
  switch (kind) {
    case static_cast<uint8_t>(FrameKind::kMessage): {
      frame.kind = FrameKind::kMessage;
      if (length < kMessagePrefix) {
        error_ = "message frame is too short to hold a channel name length";
        return std::nullopt;
      }
      const size_t nameLength = static_cast<size_t>(body[5]) | static_cast<size_t>(body[6]) << 8;
      if (nameLength == 0 || nameLength > kMaxChannelNameBytes ||
          nameLength > length - kMessagePrefix) {
        error_ = "message frame has a channel name of invalid length " + std::to_string(nameLength);
        return std::nullopt;
      }
      const auto* name = reinterpret_cast<const char*>(body + kMessagePrefix);
      // Also rejects NUL bytes, which have no place in a channel name.
      if (!g_utf8_validate_len(name, nameLength, nullptr)) {
        error_ = "message frame has a channel name that is not valid UTF-8";
        return std::nullopt;
      }
      frame.channel.assign(name, nameLength);
      payload = body + kMessagePrefix + nameLength;
      break;
    }
    case static_cast<uint8_t>(FrameKind::kReply):
      frame.kind = FrameKind::kReply;
      break;
    case static_cast<uint8_t>(FrameKind::kError):
      frame.kind = FrameKind::kError;
      break;
    default:
      error_ = "unknown frame kind " + std::to_string(kind);
      return std::nullopt;
  }
  frame.payload.assign(payload, end);
  start_ += kFrameHeaderBytes + length;
  return frame;
}

}  // namespace pilvo::channels
