#include "channels/bridge_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace pilvo::channels {

BridgeClient::~BridgeClient() { close(); }

std::string BridgeClient::connect(const std::string& socketPath) {
  close();
  sockaddr_un addr{};
  if (socketPath.empty() || socketPath.size() >= sizeof addr.sun_path) {
    return "the socket path \"" + socketPath + "\" is empty or too long";
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath.data(), socketPath.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::string("could not create a socket: ") + std::strerror(errno);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const int err = errno;
    ::close(fd);
    return "cannot connect to the Pilvo host at \"" + socketPath + "\": " + std::strerror(err) +
           ". Is Pilvo running? Start it, or pass --socket with the path it listens on.";
  }
  fd_ = fd;
  reader_ = FrameReader(reader_.maxFrameBytes());
  return {};
}

void BridgeClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool BridgeClient::writeAll(const Bytes& bytes, std::string* error) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (error)
        *error = std::string("lost the connection to the Pilvo host: ") + std::strerror(errno);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

uint32_t BridgeClient::sendMessage(const std::string& channel, ByteView payload, bool wantReply,
                                   std::string* error) {
  if (fd_ < 0) {
    if (error) *error = "not connected";
    return 0;
  }
  uint32_t id = 0;
  if (wantReply) {
    id = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
  }
  if (!writeAll(
          encodeFrame({FrameKind::kMessage, id, channel, Bytes(payload.begin(), payload.end())}),
          error)) {
    return 0;
  }
  return wantReply ? id : 0;
}

bool BridgeClient::sendReply(uint32_t id, ByteView payload, std::string* error) {
  if (fd_ < 0) {
    if (error) *error = "not connected";
    return false;
  }
  return writeAll(encodeFrame({FrameKind::kReply, id, {}, Bytes(payload.begin(), payload.end())}),
                  error);
}

BridgeClient::ReadStatus BridgeClient::readFrame(Frame& frame, int timeoutMs, std::string* error) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    if (auto next = reader_.next()) {
      if (next->kind == FrameKind::kError) {
        if (error)
          *error = "the Pilvo host closed the connection: " +
                   std::string(next->payload.begin(), next->payload.end());
        return ReadStatus::kError;
      }
      frame = std::move(*next);
      return ReadStatus::kFrame;
    }
    if (reader_.failed()) {
      if (error) *error = "the Pilvo host sent a malformed frame: " + reader_.error();
      return ReadStatus::kError;
    }
    if (fd_ < 0) return ReadStatus::kClosed;
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = static_cast<int>(std::max<long>(0, left));  // 0: look once without waiting
    }
    pollfd p{fd_, POLLIN, 0};
    const int r = poll(&p, 1, wait);
    if (r < 0) {
      if (errno == EINTR) return ReadStatus::kTimeout;  // let the caller look at its signals
      if (error) *error = std::string("poll failed: ") + std::strerror(errno);
      return ReadStatus::kError;
    }
    if (r == 0) return ReadStatus::kTimeout;
    uint8_t chunk[64 * 1024];
    const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      if (error)
        *error = std::string("lost the connection to the Pilvo host: ") + std::strerror(errno);
      return ReadStatus::kError;
    }
    if (n == 0) {
      close();
      return ReadStatus::kClosed;
    }
    reader_.feed(ByteView(chunk, static_cast<size_t>(n)));
  }
}

}  // namespace pilvo::channels
