#include "channels/incoming_call.h"

#include "channels/standard_codec.h"

namespace pilvo::channels {

std::optional<FlutterMethodCall> decodeIncomingCall(const std::string& channel, ByteView message,
                                                    BinaryResponder& responder,
                                                    const LogSink& log) {
  auto call = decodeMethodCall(message);
  if (call) return std::move(*call.value);
  if (log) log("malformed call on \"" + channel + "\": " + call.error);
  responder.respond(encodeErrorEnvelope({"MALFORMED_CALL", call.error, Value()}));
  return std::nullopt;
}

}  // namespace pilvo::channels
