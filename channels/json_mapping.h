// JSON <-> channel values, for pilvoctl and for humans.
//
// JSON to value: null, booleans and strings as they are; whole numbers as
// int32 (or int64 when they do not fit); other numbers as float64 (1.0 stays a
// float64); arrays as lists; objects as maps with string keys in text order.
// To force a type, use a one-key object:
//   {"$int64": 5}  {"$float64": 1}  {"$float32List": [..]}  {"$float64List": [..]}
//   {"$int32List": [..]}  {"$int64List": [..]}  {"$bytes": "<base64>"}
//   {"$map": [[key, value], ...]}   (a map whose keys are not all strings)
// Value to JSON uses the same forms, so values that JSON cannot show plainly
// (typed lists, non-string keys, NaN and infinities as {"$float64": "NaN"})
// survive a round trip. An int64 is written plainly unless it would read back
// as an int32, then as {"$int64": n}.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "channels/method_types.h"
#include "channels/value.h"

namespace pilvo::channels {

// Objects keep the order of their members, so maps keep their order both ways.
using Json = nlohmann::ordered_json;

std::optional<Value> valueFromJson(const Json& json, std::string* error);
// Parses JSON text first; `error` says what is wrong with it.
std::optional<Value> valueFromJsonText(std::string_view text, std::string* error);
Json valueToJson(const Value& value);
// An error answer as {"code": ..., "message": ... or null, "details": ...}.
Json errorToJson(const FlutterError& error);

}  // namespace pilvo::channels
