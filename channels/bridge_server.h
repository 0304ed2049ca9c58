// The host side of the socket bridge: UI processes of the same user connect to
// a Unix-domain socket and exchange frames (bridge_frame.h) with the host's
// messenger. Each client gets the replies to its own calls; messages the host
// sends go to every client, except on an event channel, where they go to the
// client whose "listen" is current. Runs entirely on the main loop.
//
// Clients inside the host process (the interface's web view) connect with
// connectLocal() and exchange the same frames without a socket; they follow
// the same rules and count as connected clients.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "channels/bridge_frame.h"
#include "channels/channel_log.h"
#include "channels/host_messenger.h"
#include "common/event_loop.h"

namespace pilvo::channels {

struct BridgeLimits {
  size_t maxFrameBytes = kDefaultMaxFrameBytes;
  // Calls from one client that the host has not answered yet.
  size_t maxPendingCalls = 1024;
  // Bytes queued for a client that does not read.
  size_t maxQueuedBytes = 64u << 20;
};

// $XDG_RUNTIME_DIR/pilvo/host.sock (GLib's fallback when the variable is unset).
std::string defaultSocketPath();

// A client inside the host process. Frames for it arrive through the function
// given to connectLocal(), on the loop; an error frame means the host closed it.
class LocalBridgeConnection {
 public:
  virtual ~LocalBridgeConnection() = default;  // disconnects
  // A message or a reply from the client, as a socket client would send it.
  virtual void send(Frame frame) = 0;
  virtual bool connected() const = 0;
};

class BridgeServer {
 public:
  BridgeServer(EventLoop& loop, HostMessenger& messenger, BridgeLimits limits = {},
               LogSink log = stderrLogSink());
  ~BridgeServer();  // disconnects every client and removes the socket file
  BridgeServer(const BridgeServer&) = delete;
  BridgeServer& operator=(const BridgeServer&) = delete;

  // Creates the directory (0700) and the socket (0600) and starts accepting.
  // A stale socket file is replaced; a live one (another host) is an error.
  // Returns an empty string on success, else what went wrong and what to do.
  std::string listen(const std::string& socketPath);
  // Closes the socket and its clients; clients inside the process stay.
  void stop();

  // Connects a client inside the process. It works whether or not the socket
  // is listening; the connection must not outlive the server.
  std::unique_ptr<LocalBridgeConnection> connectLocal(std::function<void(const Frame&)> deliver);

  const std::string& socketPath() const { return socketPath_; }
  size_t clientCount() const;
  // Called on the loop with the new count whenever a client connects or
  // leaves (not for the disconnections of stop() or destruction).
  void setClientCountHandler(std::function<void(size_t clients)> handler);
  // Calls from clients still waiting for the host's answer, over all clients.
  size_t pendingCallCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string socketPath_;
};

}  // namespace pilvo::channels
