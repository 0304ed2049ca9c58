// Stands in for the UI side of the channels in tests: attaches to a
// HostMessenger, calls host channels as the UI would and records everything
// the host sends (its own calls, events, end of stream).
//
//   FakeFlutterUi ui(engine.binaryMessenger());
//   auto reply = ui.invoke("com.tavik/tracking", "getAppSupportPath");
//   loop.runUntilIdle();
//   EXPECT_EQ(std::get<Value>(**reply), Value("/home/u/.local/share/pilvo"));
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channels/host_messenger.h"
#include "channels/method_types.h"

namespace pilvo::testing {

class FakeFlutterUi {
 public:
  explicit FakeFlutterUi(channels::HostMessenger& messenger);
  ~FakeFlutterUi();  // detaches from the messenger
  FakeFlutterUi(const FakeFlutterUi&) = delete;
  FakeFlutterUi& operator=(const FakeFlutterUi&) = delete;

  using Reply = std::shared_ptr<std::optional<channels::MethodResponse>>;
  // Calls `method` on `channel`; the reply fills in once the loop has run.
  // An undecodable reply shows up as FlutterError "MALFORMED_REPLY".
  Reply invoke(const std::string& channel, const std::string& method,
               channels::Value arguments = {});
  // Sends raw bytes; the raw reply fills in once the loop has run.
  std::shared_ptr<std::optional<channels::Bytes>> sendRaw(const std::string& channel,
                                                          channels::Bytes message);

  struct Message {
    std::string channel;
    channels::Bytes bytes;
  };
  // Everything the host sent, in order.
  const std::vector<Message>& received() const { return received_; }
  // The host's own calls on `channel` (e.g. "toggle" on the sidebar channel).
  std::vector<channels::FlutterMethodCall> callsOn(const std::string& channel) const;
  // Events on an event channel: values and FlutterErrors, without end of stream.
  std::vector<channels::MethodResponse> eventsOn(const std::string& channel) const;
  bool streamEnded(const std::string& channel) const;
  void clear() { received_.clear(); }

 private:
  channels::HostMessenger& messenger_;
  std::vector<Message> received_;
};

}  // namespace pilvo::testing
