// The engine's standard message codec and method codec, byte for byte.
//
// Alignment of float64 values and typed lists is counted from the start of the
// whole message (for a method call that includes the method name). Decoding is
// strict: unknown tags, truncated input, trailing bytes, malformed UTF-8, sizes
// larger than what is left of the message and nesting deeper than
// kMaxNestingDepth are rejected with a message saying what and where. Nothing is
// allocated before the bytes it would describe are known to be present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "channels/method_types.h"
#include "channels/value.h"

namespace pilvo::channels {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// Lists and maps nested deeper than this are rejected (the top level is depth 1).
inline constexpr int kMaxNestingDepth = 100;

// A decoded value or the reason decoding failed.
template <typename T>
struct DecodeResult {
  std::optional<T> value;
  std::string error;  // empty on success; says what was wrong and at which byte
  bool ok() const { return value.has_value(); }
  explicit operator bool() const { return ok(); }
};

// --- Standard message codec -------------------------------------------------
// Integers are written as int32 (tag 3) when the value fits, else int64 (tag 4),
// whichever of the two the Value holds. Tag 5 ("large int") decodes as a string.
Bytes encodeMessage(const Value& value);
void encodeValue(const Value& value, Bytes& out);  // appends; alignment relative to out.begin()
// An empty message decodes to null.
DecodeResult<Value> decodeMessage(ByteView bytes);

// --- Standard method codec --------------------------------------------------
Bytes encodeMethodCall(const FlutterMethodCall& call);
DecodeResult<FlutterMethodCall> decodeMethodCall(ByteView bytes);

// Success envelope: 0x00 + value. Error envelope: 0x01 + code, message, details.
Bytes encodeSuccessEnvelope(const Value& result);
Bytes encodeErrorEnvelope(const FlutterError& error);
// Value -> success envelope, FlutterError -> error envelope,
// FlutterMethodNotImplemented -> empty reply.
Bytes encodeMethodResponse(const MethodResponse& response);
// The reverse: an empty reply is FlutterMethodNotImplemented. An error envelope
// may carry an optional fourth value (a string stack trace), which is dropped.
DecodeResult<MethodResponse> decodeMethodResponse(ByteView bytes);

}  // namespace pilvo::channels
