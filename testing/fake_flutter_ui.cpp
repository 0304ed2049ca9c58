#include "testing/fake_flutter_ui.h"

namespace pilvo::testing {

using namespace channels;

FakeFlutterUi::FakeFlutterUi(HostMessenger& messenger) : messenger_(messenger) {
  messenger_.setUiSide(
      [this](const std::string& channel, Bytes message, BinaryReplyCallback reply) {
        received_.push_back({channel, std::move(message)});
        if (reply) reply({});  // the UI answers nothing to the host's calls
      });
}

FakeFlutterUi::~FakeFlutterUi() { messenger_.setUiSide(nullptr); }

std::shared_ptr<std::optional<Bytes>> FakeFlutterUi::sendRaw(const std::string& channel,
                                                             Bytes message) {
  auto slot = std::make_shared<std::optional<Bytes>>();
  messenger_.deliverFromUi(channel, message, [slot](Bytes reply) { *slot = std::move(reply); });
  return slot;
}

std::vector<FlutterMethodCall> FakeFlutterUi::callsOn(const std::string& channel) const {
  std::vector<FlutterMethodCall> calls;
  for (const auto& m : received_) {
    if (m.channel != channel) continue;
    if (auto call = decodeMethodCall(m.bytes)) calls.push_back(std::move(*call.value));
  }
  return calls;
}

}  // namespace pilvo::testing
