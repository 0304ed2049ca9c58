// Stands in for the UI side of the channels in tests: attaches to a
// HostMessenger, sends to host channels as the UI would and records everything
// the host sends (its own calls, events, end of stream).
//
//   FakeFlutterUi ui(engine.binaryMessenger());
//   auto reply = ui.sendRaw("com.tavik/tracking", encodeMethodCall({"getAppSupportPath", {}}));
//   loop.runUntilIdle();
//   EXPECT_EQ(*decodeMethodResponse(**reply).value, MethodResponse(Value("/data")));
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
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

  // Sends a message (e.g. an encoded method call) as the UI would; the reply
  // fills in once the loop has run.
  std::shared_ptr<std::optional<channels::Bytes>> sendRaw(const std::string& channel,
                                                          channels::Bytes message);

  struct Message {
    std::string channel;
    channels::Bytes bytes;  // empty: end of stream on an event channel
    friend bool operator==(const Message&, const Message&) = default;
  };
  // Everything the host sent, in order; take() also forgets it.
  const std::vector<Message>& received() const { return received_; }
  std::vector<Message> take() { return std::exchange(received_, {}); }
  // The host's own calls on `channel` (e.g. "toggle" on the sidebar channel).
  std::vector<channels::FlutterMethodCall> callsOn(const std::string& channel) const;

 private:
  channels::HostMessenger& messenger_;
  std::vector<Message> received_;
};

}  // namespace pilvo::testing
