// A blocking client of the socket bridge (pilvoctl, tests, benchmarks).
#pragma once

#include <cstdint>
#include <string>

#include "channels/bridge_frame.h"
#include "channels/method_types.h"

namespace pilvo::channels {

class BridgeClient {
 public:
  explicit BridgeClient(size_t maxFrameBytes = kDefaultMaxFrameBytes) : reader_(maxFrameBytes) {}
  ~BridgeClient();
  BridgeClient(const BridgeClient&) = delete;
  BridgeClient& operator=(const BridgeClient&) = delete;

  // Returns an empty string on success, else why and what to do.
  std::string connect(const std::string& socketPath);
  void close();
  bool connected() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Sends a message; `wantReply` gives it a fresh id (returned), else id 0.
  // Returns 0 and sets `error` when the write fails.
  uint32_t sendMessage(const std::string& channel, ByteView payload, bool wantReply,
                       std::string* error);
  bool sendReply(uint32_t id, ByteView payload, std::string* error);

  enum class ReadStatus { kFrame, kTimeout, kClosed, kError };
  // Waits up to `timeoutMs` (negative: no limit) for the next frame. kClosed
  // when the host closed the connection; kError with `error` set on a broken
  // stream or a host error frame (whose text is in `error`).
  ReadStatus readFrame(Frame& frame, int timeoutMs, std::string* error);

 private:
  bool writeAll(const Bytes& bytes, std::string* error);
  int fd_ = -1;
  uint32_t nextId_ = 1;
  FrameReader reader_;
};

}  // namespace pilvo::channels
