// The interface page's end of the bridge: the page and the host exchange
// JSON texts (what channels.js posts, what runs in the page as a script), and
// this class turns them into bridge frames on a local connection, so the page
// is served exactly like a socket client: one reply per call, host calls to
// every client, streams to the client whose "listen" is current.
//
// Page to host (posted by channels.js):
//   {"kind":"call","id":N,"channel":C,"method":M,"args":V}
//   {"kind":"reply","id":N,"result":V} | {...,"error":{"code","message","details"}}
//                                      | {...,"notImplemented":true}
// Host to page (window.__pilvoChannels.receive(message)):
//   {"kind":"reply","id":N,"result":V} | {...,"error":{...}} | {...,"notImplemented":true}
//   {"kind":"call","id":N,"channel":C,"method":M,"args":V}   (id 0: no answer wanted)
//   {"kind":"event","channel":C,"event":V} | {...,"error":{...}} | {...,"end":true}
//   {"kind":"closed","reason":R}   (every pending call of the page fails)
// Values use the JSON mapping of channels/json_mapping.h.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "channels/bridge_server.h"
#include "channels/channel_log.h"
#include "channels/host_messenger.h"
#include "channels/json_mapping.h"

namespace pilvo::interface {

class PageBridge {
 public:
  // `runScript` evaluates a script in the page, in the order asked.
  using RunScript = std::function<void(const std::string& script)>;

  PageBridge(channels::BridgeServer& bridge, channels::HostMessenger& messenger,
             RunScript runScript, channels::LogSink log);
  ~PageBridge();
  PageBridge(const PageBridge&) = delete;
  PageBridge& operator=(const PageBridge&) = delete;

  // The page (re)started: a new connection; the old one's streams are
  // cancelled and its host calls counted as unanswered.
  void connect();
  // The page is gone (navigated away, its process crashed).
  void disconnect();
  bool connected() const;

  // A message the page posted.
  void receive(std::string_view text);

  // The script that hands `message` (JSON text) to the page. Where the page
  // has no channel module, a host call that wants an answer is answered "not
  // implemented" in its place.
  static std::string deliveryScript(const std::string& message);
  // The name the page posts to (window.webkit.messageHandlers.<name>).
  static constexpr const char* kMessageHandlerName = "pilvoChannel";

 private:
  void fromBridge(const channels::Frame& frame);
  void toPage(const channels::Json& message);
  void replyToPage(int64_t pageId, const channels::Json& envelope);

  channels::BridgeServer& bridge_;
  channels::HostMessenger& messenger_;
  RunScript runScript_;
  channels::LogSink log_;
  std::unique_ptr<channels::LocalBridgeConnection> connection_;
  uint32_t nextFrameId_ = 1;
  std::map<uint32_t, int64_t> pageIds_;  // frame id of a page call -> the page's id
};

}  // namespace pilvo::interface
