// A method call and the three ways of answering it.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "channels/value.h"

namespace pilvo::channels {

// The method name as a string and one argument value (null when there are none).
struct FlutterMethodCall {
  std::string method;
  Value arguments;
  friend bool operator==(const FlutterMethodCall&, const FlutterMethodCall&) = default;
};

// A channel error: upper-case code, short message (may be absent), details.
struct FlutterError {
  std::string code;
  std::optional<std::string> message;
  Value details;
  static FlutterError errorWithCode(std::string code, std::optional<std::string> message = {},
                                    Value details = {}) {
    return FlutterError{std::move(code), std::move(message), std::move(details)};
  }
  friend bool operator==(const FlutterError&, const FlutterError&) = default;
};

// The not-implemented marker: travels as an empty reply.
struct FlutterMethodNotImplemented {
  friend bool operator==(const FlutterMethodNotImplemented&,
                         const FlutterMethodNotImplemented&) = default;
};

// One answer to a method call: a value, a channel error or not-implemented.
using MethodResponse = std::variant<Value, FlutterError, FlutterMethodNotImplemented>;

// The code of the error every channel answers arguments it cannot use with.
inline constexpr const char* kInvalidArgsCode = "INVALID_ARGS";

}  // namespace pilvo::channels
