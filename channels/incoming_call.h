// The common first step of every channel that answers calls from the UI.
#pragma once

#include <optional>
#include <string>

#include "channels/binary_messenger.h"
#include "channels/channel_log.h"
#include "channels/method_types.h"

namespace pilvo::channels {

// Decodes a call that arrived on `channel`. A call that cannot be decoded is
// logged and answered at once with the error "MALFORMED_CALL"; then nullopt.
std::optional<FlutterMethodCall> decodeIncomingCall(const std::string& channel, ByteView message,
                                                    BinaryResponder& responder,
                                                    const LogSink& log);

}  // namespace pilvo::channels
