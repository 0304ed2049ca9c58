#include "channels/bridge_server.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "common/private_files.h"

namespace pilvo::channels {
namespace {

constexpr size_t kReadChunk = 64 * 1024;

// A call the host sent with a reply callback: the first client to answer
// settles it; when every client it went to is gone, it gets the empty reply.
struct OutgoingCall {
  BinaryReplyCallback reply;
  size_t remaining = 0;
  bool done = false;
  void settle(ByteView bytes) {
    if (done) return;
    done = true;
    if (reply) reply(bytes);
  }
  void dropOne() {
    if (remaining > 0 && --remaining == 0) settle({});
  }
};

std::string errnoText(int err) { return std::strerror(err); }

}  // namespace

std::string defaultSocketPath() {
  return std::string(g_get_user_runtime_dir()) + "/pilvo/host.sock";
}

struct BridgeServer::Impl {
  struct Client {
    uint64_t id = 0;
    int fd = -1;
    FrameReader reader;
    Bytes out;
    size_t outStart = 0;
    std::unique_ptr<EventSource> watch;
    IoCondition watching = IoCondition::kRead;
    size_t pending = 0;  // the client's calls the host has not answered yet
    uint32_t nextId = 1;
    std::map<uint32_t, std::shared_ptr<OutgoingCall>> awaiting;  // host calls awaiting this client
    bool closed = false;
    // Set for a client inside the process: frames go to it instead of a socket.
    std::function<void(const Frame&)> local;
    std::weak_ptr<Client> self;
    explicit Client(size_t maxFrame) : reader(maxFrame) {}
  };

  EventLoop& loop;
  HostMessenger& messenger;
  BridgeLimits limits;
  LogSink log;
  int listenFd = -1;
  std::unique_ptr<EventSource> acceptWatch;
  std::unique_ptr<EventSource> acceptRetry;
  uint64_t nextClientId = 1;
  std::map<uint64_t, std::shared_ptr<Client>> clients;
  std::map<std::string, uint64_t> listeners;  // event channel -> client whose listen is current
  std::function<void(size_t)> clientCountChanged;

  void reportClientCount() {
    if (clientCountChanged) clientCountChanged(clients.size());
  }

  Impl(EventLoop& l, HostMessenger& m, BridgeLimits lim, LogSink lg)
      : loop(l), messenger(m), limits(lim), log(std::move(lg)) {}

  void say(const std::string& line) {
    if (log) log("bridge: " + line);
  }

  // --- Accepting ------------------------------------------------------------

  void startAccepting() {
    acceptWatch = loop.addFd(listenFd, IoCondition::kRead, [this](IoCondition) {
      acceptAll();
      return true;
    });
  }

  void acceptAll() {
    for (;;) {
      const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
          // Out of descriptors or memory: the socket stays readable, so stop
          // watching it for a moment rather than spin.
          say("accept failed: " + errnoText(errno) + "; retrying in a second");
          acceptWatch.reset();
          acceptRetry = loop.addTimer(1.0, false, [this] { startAccepting(); });
        }
        return;
      }
      ucred cred{};
      socklen_t len = sizeof cred;
      if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid()) {
        say("refused a connection from another user (uid " + std::to_string(cred.uid) + ")");
        const Bytes frame = encodeFrame(
            {FrameKind::kError, 0, {}, toBytes("connections from other users are refused")});
        [[maybe_unused]] ssize_t n = send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        ::close(fd);
        continue;
      }
      auto client = std::make_shared<Client>(limits.maxFrameBytes);
      client->id = nextClientId++;
      client->fd = fd;
      client->self = client;
      clients[client->id] = client;
      watch(*client, IoCondition::kRead);
      reportClientCount();
    }
  }

  static Bytes toBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

  void watch(Client& client, IoCondition conditions) {
    client.watching = conditions;
    client.watch = loop.addFd(client.fd, conditions, [this, weak = client.self](IoCondition ready) {
      return onReady(weak, ready);
    });
  }

  bool onReady(const std::weak_ptr<Client>& weak, IoCondition ready) {
    std::shared_ptr<Client> client = weak.lock();  // keeps it alive through a close
    if (!client || client->closed) return false;
    if (hasCondition(ready, IoCondition::kWrite)) flush(*client);
    if (!client->closed &&
        hasCondition(ready, IoCondition::kRead | IoCondition::kHangup | IoCondition::kError)) {
      readFrom(*client);
    }
    // A watch replaced during this call is already gone; returning false would
    // remove the new one too, so only report false when the client is closed.
    return !client->closed;
  }

  void readFrom(Client& client) {
    uint8_t chunk[kReadChunk];
    for (int rounds = 0; rounds < 16 && !client.closed; ++rounds) {
      const ssize_t n = recv(client.fd, chunk, sizeof chunk, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        closeClient(client, {}, "read failed: " + errnoText(errno));
        return;
      }
      if (n == 0) {
        closeClient(client, {}, {});
        return;
      }
      if (!client.reader.feed(ByteView(chunk, static_cast<size_t>(n)))) {
        closeClient(client, client.reader.error() + "; connection closed", client.reader.error());
        return;
      }
      while (!client.closed) {
        auto frame = client.reader.next();
        if (!frame) {
          if (client.reader.failed()) {
            closeClient(client, client.reader.error() + "; connection closed",
                        client.reader.error());
          }
          break;
        }
        handleFrame(client, std::move(*frame));
      }
    }
  }

  // --- Frames from a client -------------------------------------------------

  void handleFrame(Client& client, Frame frame) {
    switch (frame.kind) {
      case FrameKind::kMessage:
        handleMessage(client, std::move(frame));
        break;
      case FrameKind::kReply: {
        auto it = client.awaiting.find(frame.id);
        if (it == client.awaiting.end()) {
          say("client " + std::to_string(client.id) + " replied to unknown id " +
              std::to_string(frame.id));
          return;
        }
        auto call = it->second;
        client.awaiting.erase(it);
        call->settle(frame.payload);
        if (call->remaining > 0) --call->remaining;
        break;
      }
      case FrameKind::kError:
        closeClient(client, {},
                    "client reported: " + std::string(frame.payload.begin(), frame.payload.end()));
        break;
    }
  }

  void handleMessage(Client& client, Frame frame) {
    const uint32_t id = frame.id;
    if (id != 0) {
      if (client.pending >= limits.maxPendingCalls) {
        const std::string why =
            "more than " + std::to_string(limits.maxPendingCalls) + " calls waiting for an answer";
        closeClient(client, why + "; connection closed", why);
        return;
      }
      ++client.pending;
    }
    const std::string& channel = frame.channel;
    bool isListen = false;
    if (messenger.isEventChannel(channel)) {
      auto call = decodeMethodCall(frame.payload);
      if (call && call.value->method == "listen") {
        isListen = true;
        listeners[channel] = client.id;  // events from onListen on already reach this client
      } else if (call && call.value->method == "cancel") {
        auto it = listeners.find(channel);
        if (it == listeners.end() || it->second != client.id) {
          // Another client's stream (or none) is current: this client has nothing to cancel.
          answer(client, id, encodeErrorEnvelope({"error", "No active stream to cancel", Value()}));
          return;
        }
        listeners.erase(it);
      }
    }
    messenger.deliverFromUi(channel, frame.payload,
                            [this, weak = client.self, id, channel, isListen](Bytes reply) {
                              auto c = weak.lock();
                              if (!c || c->closed)
                                return;  // the client left; its answer goes nowhere
                              if (isListen && (reply.empty() || reply[0] != 0)) {
                                auto it = listeners.find(channel);
                                if (it != listeners.end() && it->second == c->id)
                                  listeners.erase(it);
                              }
                              answer(*c, id, std::move(reply));
                            });
  }

  void answer(Client& client, uint32_t id, Bytes reply) {
    if (id == 0) return;
    if (client.pending > 0) --client.pending;
    sendFrame(client, {FrameKind::kReply, id, {}, std::move(reply)});
  }

  // --- Frames to clients ----------------------------------------------------

  void fromHost(const std::string& channel, Bytes message, BinaryReplyCallback reply) {
    std::vector<std::shared_ptr<Client>> targets;
    if (messenger.isEventChannel(channel)) {
      auto it = listeners.find(channel);
      // The listener stays current after the end of its stream, so that its
      // "cancel" still reaches the stream handler, as it does in process.
      if (it != listeners.end()) {
        if (auto c = clients.find(it->second); c != clients.end()) targets.push_back(c->second);
      }
    } else {
      for (auto& [id, c] : clients) targets.push_back(c);
    }
    std::shared_ptr<OutgoingCall> call;
    if (reply) {
      call = std::make_shared<OutgoingCall>();
      call->reply = std::move(reply);
      call->remaining = targets.size();
      if (targets.empty()) {
        call->settle({});
        return;
      }
    }
    Frame frame{FrameKind::kMessage, 0, channel, std::move(message)};
    for (auto& client : targets) {
      if (client->closed) continue;
      frame.id = 0;
      if (call) {
        frame.id = client->nextId++;
        if (client->nextId == 0) client->nextId = 1;
        client->awaiting[frame.id] = call;
      }
      sendFrame(*client, frame);
    }
  }

  void sendFrame(Client& client, const Frame& frame) {
    if (client.closed) return;
    if (client.local) {
      // A copy: the client may disconnect (and release its function) inside.
      auto deliver = client.local;
      deliver(frame);
      return;
    }
    queue(client, encodeFrame(frame));
  }

  void queue(Client& client, Bytes bytes) {
    if (client.closed) return;
    if (client.out.size() - client.outStart + bytes.size() > limits.maxQueuedBytes) {
      closeClient(client, {},
                  "client does not read its messages; more than " +
                      std::to_string(limits.maxQueuedBytes) + " bytes queued");
      return;
    }
    if (client.outStart == client.out.size()) {
      client.out.clear();
      client.outStart = 0;
    }
    client.out.insert(client.out.end(), bytes.begin(), bytes.end());
    flush(client);
  }

  void flush(Client& client) {
    while (client.outStart < client.out.size()) {
      const ssize_t n = send(client.fd, client.out.data() + client.outStart,
                             client.out.size() - client.outStart, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        closeClient(client, {}, "write failed: " + errnoText(errno));
        return;
      }
      client.outStart += static_cast<size_t>(n);
    }
    const bool more = client.outStart < client.out.size();
    if (!more) {
      client.out.clear();
      client.outStart = 0;
    }
    const IoCondition wanted = more ? IoCondition::kRead | IoCondition::kWrite : IoCondition::kRead;
    if (wanted != client.watching) watch(client, wanted);
  }

  // --- Closing --------------------------------------------------------------

  // Sends `errorText` (when given) as an error frame, then drops the client and
  // everything that waited on it.
  void closeClient(Client& client, const std::string& errorText, const std::string& why) {
    if (client.closed) return;
    if (!why.empty()) say("client " + std::to_string(client.id) + ": " + why);
    if (client.local) {
      auto deliver = std::move(client.local);
      client.local = nullptr;
      if (!errorText.empty()) deliver(Frame{FrameKind::kError, 0, {}, toBytes(errorText)});
    } else if (!errorText.empty()) {
      const Bytes frame = encodeFrame({FrameKind::kError, 0, {}, toBytes(errorText)});
      // Best effort: whatever was queued first, then the error, without blocking.
      client.out.insert(client.out.end(), frame.begin(), frame.end());
      while (client.outStart < client.out.size()) {
        const ssize_t n = send(client.fd, client.out.data() + client.outStart,
                               client.out.size() - client.outStart, MSG_NOSIGNAL);
        if (n <= 0) break;
        client.outStart += static_cast<size_t>(n);
      }
    }
    client.closed = true;
    client.watch.reset();
    if (client.fd >= 0) {
      ::shutdown(client.fd, SHUT_RDWR);
      ::close(client.fd);
    }
    client.fd = -1;
    client.pending = 0;
    auto awaiting = std::move(client.awaiting);
    std::vector<std::string> streams;
    for (auto it = listeners.begin(); it != listeners.end();) {
      if (it->second == client.id) {
        streams.push_back(it->first);
        it = listeners.erase(it);
      } else {
        ++it;
      }
    }
    auto self = client.self.lock();  // the caller may hold only a reference
    clients.erase(client.id);
    reportClientCount();
    for (auto& [id, call] : awaiting) call->dropOne();
    // A stream whose listener left is cancelled, so its handler stops sending.
    for (const auto& channel : streams) {
      messenger.deliverFromUi(channel, encodeMethodCall({"cancel", Value()}), [](Bytes) {});
    }
  }

  void attach() {
    messenger.setUiSide(
        [this](const std::string& channel, Bytes message, BinaryReplyCallback reply) {
          fromHost(channel, std::move(message), std::move(reply));
        });
  }

  void closeSocketClients() {
    std::vector<std::shared_ptr<Client>> socketClients;
    for (auto& [id, c] : clients) {
      if (!c->local) socketClients.push_back(c);
    }
    for (auto& c : socketClients) closeClient(*c, {}, {});
  }

  void closeAll() {
    while (!clients.empty()) closeClient(*clients.begin()->second, {}, {});
  }
};

BridgeServer::BridgeServer(EventLoop& loop, HostMessenger& messenger, BridgeLimits limits,
                           LogSink log)
    : impl_(std::make_unique<Impl>(loop, messenger, limits, std::move(log))) {}

BridgeServer::~BridgeServer() {
  stop();
  impl_->clientCountChanged = nullptr;  // nobody is told about the clients destruction drops
  impl_->closeAll();
  impl_->messenger.setUiSide(nullptr);
}

std::string BridgeServer::listen(const std::string& socketPath) {
  stop();
  sockaddr_un addr{};
  if (socketPath.empty() || socketPath.size() >= sizeof addr.sun_path) {
    return "The socket path \"" + socketPath + "\" is empty or longer than " +
           std::to_string(sizeof addr.sun_path - 1) + " bytes; choose a shorter path.";
  }
  std::memcpy(addr.sun_path, socketPath.data(), socketPath.size());
  addr.sun_family = AF_UNIX;

  const auto slash = socketPath.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    std::string error = makePrivateDirectory(socketPath.substr(0, slash));
    if (!error.empty()) return error;
  }

  struct stat st {};
  if (lstat(socketPath.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      return "\"" + socketPath + "\" exists and is not a socket; remove it or choose another path.";
    }
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live =
        probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (probe >= 0) ::close(probe);
    if (live) {
      return "Another Pilvo host is already listening on \"" + socketPath +
             "\"; quit it first or choose another socket path.";
    }
    unlink(socketPath.c_str());  // left behind by a host that did not exit cleanly
  }

  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return "Could not create a socket: " + errnoText(errno);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      chmod(socketPath.c_str(), 0600) != 0 || ::listen(fd, 64) != 0) {
    const int err = errno;
    ::close(fd);
    return "Could not listen on \"" + socketPath + "\": " + errnoText(err);
  }
  impl_->listenFd = fd;
  socketPath_ = socketPath;
  impl_->startAccepting();
  impl_->attach();
  return {};
}

namespace {

class LocalConnection final : public LocalBridgeConnection {
 public:
  LocalConnection(std::function<void(Frame)> send, std::function<void()> close,
                  std::function<bool()> connected)
      : send_(std::move(send)), close_(std::move(close)), connected_(std::move(connected)) {}
  ~LocalConnection() override { close_(); }
  void send(Frame frame) override { send_(std::move(frame)); }
  bool connected() const override { return connected_(); }

 private:
  std::function<void(Frame)> send_;
  std::function<void()> close_;
  std::function<bool()> connected_;
};

}  // namespace

std::unique_ptr<LocalBridgeConnection> BridgeServer::connectLocal(
    std::function<void(const Frame&)> deliver) {
  Impl* impl = impl_.get();
  if (impl->listenFd < 0) impl->attach();  // the socket may have failed; this client still works
  auto client = std::make_shared<Impl::Client>(impl->limits.maxFrameBytes);
  client->id = impl->nextClientId++;
  client->local = std::move(deliver);
  client->self = client;
  impl->clients[client->id] = client;
  impl->reportClientCount();
  std::weak_ptr<Impl::Client> weak = client;
  return std::make_unique<LocalConnection>(
      [impl, weak](Frame frame) {
        auto c = weak.lock();
        if (!c || c->closed) return;
        impl->handleFrame(*c, std::move(frame));
      },
      [impl, weak] {
        if (auto c = weak.lock()) impl->closeClient(*c, {}, {});
      },
      [weak] {
        auto c = weak.lock();
        return c && !c->closed;
      });
}

void BridgeServer::stop() {
  if (impl_->listenFd < 0) return;
  impl_->acceptWatch.reset();
  impl_->acceptRetry.reset();
  impl_->clientCountChanged = nullptr;
  impl_->closeSocketClients();
  ::close(impl_->listenFd);
  impl_->listenFd = -1;
  unlink(socketPath_.c_str());
}

size_t BridgeServer::clientCount() const { return impl_->clients.size(); }

void BridgeServer::setClientCountHandler(std::function<void(size_t)> handler) {
  impl_->clientCountChanged = std::move(handler);
}

size_t BridgeServer::pendingCallCount() const {
  size_t total = 0;
  for (const auto& [id, client] : impl_->clients) total += client->pending;
  return total;
}

}  // namespace pilvo::channels
