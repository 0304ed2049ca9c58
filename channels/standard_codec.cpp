#include "channels/standard_codec.h"

#include <glib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

namespace pilvo::channels {
namespace {

// Lists and maps grow with the elements actually decoded beyond this many, so
// a declared count never allocates more than the bytes behind it justify.
constexpr size_t kReserveLimit = 1024;

enum Tag : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,
  kFloat64 = 6,
  kString = 7,
  kUint8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

// --- Writing ----------------------------------------------------------------

template <typename T>
void putLittleEndian(Bytes& out, T value) {
  static_assert(std::is_trivially_copyable_v<T>);
  uint8_t raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));  // the host is little-endian (x86-64, arm64)
  out.insert(out.end(), raw, raw + sizeof(T));
}

void putSize(Bytes& out, size_t size) {
  if (size < 254) {
    out.push_back(static_cast<uint8_t>(size));
  } else if (size <= 0xffff) {
    out.push_back(254);
    putLittleEndian(out, static_cast<uint16_t>(size));
  } else {
    out.push_back(255);
    putLittleEndian(out, static_cast<uint32_t>(size));
  }
}

void pad(Bytes& out, size_t alignment) {
  const size_t mod = out.size() % alignment;
  if (mod) out.insert(out.end(), alignment - mod, 0);
}

template <typename T>
void putTypedList(Bytes& out, Tag tag, const std::vector<T>& list) {
  out.push_back(tag);
  putSize(out, list.size());
  pad(out, sizeof(T));
  if (list.empty()) return;
  const auto* raw = reinterpret_cast<const uint8_t*>(list.data());
  out.insert(out.end(), raw, raw + list.size() * sizeof(T));
}

void putValue(const Value& value, Bytes& out) {
  std::visit(
      [&out](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          out.push_back(kNull);
        } else if constexpr (std::is_same_v<T, bool>) {
          out.push_back(v ? kTrue : kFalse);
        } else if constexpr (std::is_same_v<T, int32_t> || std::is_same_v<T, int64_t>) {
          if (v >= std::numeric_limits<int32_t>::min() &&
              v <= std::numeric_limits<int32_t>::max()) {
            out.push_back(kInt32);
            putLittleEndian(out, static_cast<int32_t>(v));
          } else {
            out.push_back(kInt64);
            putLittleEndian(out, static_cast<int64_t>(v));
          }
        } else if constexpr (std::is_same_v<T, double>) {
          out.push_back(kFloat64);
          pad(out, 8);
          putLittleEndian(out, v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          out.push_back(kString);
          putSize(out, v.size());
          out.insert(out.end(), v.begin(), v.end());
        } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
          out.push_back(kUint8List);
          putSize(out, v.size());
          out.insert(out.end(), v.begin(), v.end());
        } else if constexpr (std::is_same_v<T, std::vector<int32_t>>) {
          putTypedList(out, kInt32List, v);
        } else if constexpr (std::is_same_v<T, std::vector<int64_t>>) {
          putTypedList(out, kInt64List, v);
        } else if constexpr (std::is_same_v<T, std::vector<float>>) {
          putTypedList(out, kFloat32List, v);
        } else if constexpr (std::is_same_v<T, std::vector<double>>) {
          putTypedList(out, kFloat64List, v);
        } else if constexpr (std::is_same_v<T, ValueList>) {
          out.push_back(kList);
          putSize(out, v.size());
          for (const Value& element : v) putValue(element, out);
        } else {
          out.push_back(kMap);
          putSize(out, v.size());
          for (const auto& [key, element] : v) {
            putValue(key, out);
            putValue(element, out);
          }
        }
      },
      value.storage());
}

// --- Reading ----------------------------------------------------------------

bool validUtf8(const uint8_t* data, size_t size) {
  const char* p = reinterpret_cast<const char*>(data);
  const char* end = p + size;
  while (p < end) {
    const char* validEnd = nullptr;
    if (g_utf8_validate_len(p, static_cast<gsize>(end - p), &validEnd)) return true;
    if (*validEnd != '\0') return false;  // GLib stops at NUL, which is valid UTF-8
    p = validEnd + 1;
  }
  return true;
}

class Reader {
 public:
  explicit Reader(ByteView bytes) : bytes_(bytes) {}

  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  size_t offset() const { return pos_; }
  size_t remaining() const { return bytes_.size() - pos_; }

  bool fail(const std::string& what) {
    if (error_.empty()) error_ = what + " at byte " + std::to_string(pos_);
    return false;
  }

  bool need(size_t n, const char* what) {
    if (remaining() < n) {
      return fail(std::string("message ends inside ") + what + " (" + std::to_string(n) +
                  " bytes needed, " + std::to_string(remaining()) + " left)");
    }
    return true;
  }

  bool byte(uint8_t& b, const char* what) {
    if (!need(1, what)) return false;
    b = bytes_[pos_++];
    return true;
  }

  template <typename T>
  bool fixed(T& value, const char* what) {
    if (!need(sizeof(T), what)) return false;
    std::memcpy(&value, bytes_.data() + pos_, sizeof(T));
    pos_ += sizeof(T);
    return true;
  }

  bool size(size_t& size) {
    uint8_t b = 0;
    if (!byte(b, "a size")) return false;
    if (b < 254) {
      size = b;
    } else if (b == 254) {
      uint16_t s = 0;
      if (!fixed(s, "a size")) return false;
      size = s;
    } else {
      uint32_t s = 0;
      if (!fixed(s, "a size")) return false;
      size = s;
    }
    return true;
  }

  bool align(size_t alignment, const char* what) {
    const size_t mod = pos_ % alignment;
    if (!mod) return true;
    if (!need(alignment - mod, what)) return false;
    pos_ += alignment - mod;
    return true;
  }

  // Checks that `count` elements of at least `minBytes` each can still follow,
  // before anything is reserved for them.
  bool fits(size_t count, size_t minBytes, const char* what) {
    if (count > remaining() / minBytes) {
      return fail(std::string("size of ") + what + " (" + std::to_string(count) +
                  ") is larger than the rest of the message (" + std::to_string(remaining()) +
                  " bytes)");
    }
    return true;
  }

  template <typename T>
  bool typedList(Value& out, const char* what) {
    size_t count = 0;
    if (!size(count) || !align(sizeof(T), what) || !fits(count, sizeof(T), what)) return false;
    std::vector<T> list(count);
    if (count) std::memcpy(list.data(), bytes_.data() + pos_, count * sizeof(T));
    pos_ += count * sizeof(T);
    out = Value(std::move(list));
    return true;
  }

  bool text(std::string& out, const char* what) {
    size_t count = 0;
    if (!size(count) || !fits(count, 1, what)) return false;
    const uint8_t* start = bytes_.data() + pos_;
    if (!validUtf8(start, count)) return fail(std::string(what) + " is not valid UTF-8");
    out.assign(reinterpret_cast<const char*>(start), count);
    pos_ += count;
    return true;
  }

  bool value(Value& out, int depth) {
    const size_t start = pos_;
    uint8_t tag = 0;
    if (!byte(tag, "a value")) return false;
    switch (tag) {
      case kNull:
        out = Value();
        return true;
      case kTrue:
        out = Value(true);
        return true;
      case kFalse:
        out = Value(false);
        return true;
      case kInt32: {
        int32_t v = 0;
        if (!fixed(v, "an int32")) return false;
        out = Value(v);
        return true;
      }
      case kInt64: {
        int64_t v = 0;
        if (!fixed(v, "an int64")) return false;
        out = Value(v);
        return true;
      }
      case kLargeInt:
      case kString: {
        std::string s;
        if (!text(s, tag == kString ? "a string" : "a large int")) return false;
        out = Value(std::move(s));
        return true;
      }
      case kFloat64: {
        double v = 0;
        if (!align(8, "a float64") || !fixed(v, "a float64")) return false;
        out = Value(v);
        return true;
      }
      case kUint8List: {
        size_t count = 0;
        if (!size(count) || !fits(count, 1, "a uint8 list")) return false;
        out = Value(Bytes(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                          bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + count)));
        pos_ += count;
        return true;
      }
      case kInt32List:
        return typedList<int32_t>(out, "an int32 list");
      case kInt64List:
        return typedList<int64_t>(out, "an int64 list");
      case kFloat32List:
        return typedList<float>(out, "a float32 list");
      case kFloat64List:
        return typedList<double>(out, "a float64 list");
      case kList:
      case kMap: {
        if (depth >= kMaxNestingDepth) {
          pos_ = start;
          return fail("lists and maps nested deeper than " + std::to_string(kMaxNestingDepth) +
                      " levels");
        }
        const bool isMap = tag == kMap;
        size_t count = 0;
        // Every value takes at least one byte; a map entry at least two.
        if (!size(count) || !fits(count, isMap ? 2 : 1, isMap ? "a map" : "a list")) return false;
        if (isMap) {
          ValueMap map;
          map.reserve(std::min<size_t>(count, kReserveLimit));
          for (size_t i = 0; i < count; ++i) {
            Value key, element;
            if (!value(key, depth + 1) || !value(element, depth + 1)) return false;
            map.emplace_back(std::move(key), std::move(element));
          }
          out = Value(std::move(map));
        } else {
          ValueList list;
          list.reserve(std::min<size_t>(count, kReserveLimit));
          for (size_t i = 0; i < count; ++i) {
            Value element;
            if (!value(element, depth + 1)) return false;
            list.push_back(std::move(element));
          }
          out = Value(std::move(list));
        }
        return true;
      }
      default:
        pos_ = start;
        return fail("unknown type tag " + std::to_string(tag));
    }
  }

  bool end() {
    if (remaining()) {
      return fail(std::to_string(remaining()) + " unexpected bytes after the end of the message");
    }
    return true;
  }

 private:
  ByteView bytes_;
  size_t pos_ = 0;
  std::string error_;
};

template <typename T>
DecodeResult<T> failure(const Reader& reader) {
  return DecodeResult<T>{std::nullopt, reader.error()};
}

}  // namespace

void encodeValue(const Value& value, Bytes& out) { putValue(value, out); }

Bytes encodeMessage(const Value& value) {
  Bytes out;
  putValue(value, out);
  return out;
}

DecodeResult<Value> decodeMessage(ByteView bytes) {
  if (bytes.empty()) return {Value(), {}};
  Reader reader(bytes);
  Value value;
  if (!reader.value(value, 0) || !reader.end()) return failure<Value>(reader);
  return {std::move(value), {}};
}

Bytes encodeMethodCall(const FlutterMethodCall& call) {
  Bytes out;
  putValue(Value(call.method), out);
  putValue(call.arguments, out);
  return out;
}

DecodeResult<FlutterMethodCall> decodeMethodCall(ByteView bytes) {
  Reader reader(bytes);
  Value method, arguments;
  if (!reader.value(method, 0)) return failure<FlutterMethodCall>(reader);
  if (!method.asString()) {
    reader.fail(std::string("method name is a ") + typeName(method.type()) + ", not a string");
    return failure<FlutterMethodCall>(reader);
  }
  if (!reader.value(arguments, 0) || !reader.end()) return failure<FlutterMethodCall>(reader);
  return {FlutterMethodCall{std::move(*method.getIf<std::string>()), std::move(arguments)}, {}};
}

Bytes encodeSuccessEnvelope(const Value& result) {
  Bytes out{0};
  putValue(result, out);
  return out;
}

Bytes encodeErrorEnvelope(const FlutterError& error) {
  Bytes out{1};
  putValue(Value(error.code), out);
  putValue(error.message ? Value(*error.message) : Value(), out);
  putValue(error.details, out);
  return out;
}

Bytes encodeMethodResponse(const MethodResponse& response) {
  if (const Value* v = std::get_if<Value>(&response)) return encodeSuccessEnvelope(*v);
  if (const FlutterError* e = std::get_if<FlutterError>(&response)) return encodeErrorEnvelope(*e);
  return {};
}

DecodeResult<MethodResponse> decodeMethodResponse(ByteView bytes) {
  if (bytes.empty()) return {MethodResponse(FlutterMethodNotImplemented{}), {}};
  Reader reader(bytes);
  uint8_t envelope = 0;
  reader.byte(envelope, "an envelope");
  if (envelope == 0) {
    Value result;
    if (!reader.value(result, 0) || !reader.end()) return failure<MethodResponse>(reader);
    return {MethodResponse(std::move(result)), {}};
  }
  if (envelope != 1) {
    reader.fail("unknown reply envelope " + std::to_string(envelope));
    return failure<MethodResponse>(reader);
  }
  Value code, message, details;
  if (!reader.value(code, 0)) return failure<MethodResponse>(reader);
  if (!code.asString()) {
    reader.fail("error code is not a string");
    return failure<MethodResponse>(reader);
  }
  if (!reader.value(message, 0)) return failure<MethodResponse>(reader);
  if (!message.isNull() && !message.asString()) {
    reader.fail("error message is neither a string nor null");
    return failure<MethodResponse>(reader);
  }
  if (!reader.value(details, 0)) return failure<MethodResponse>(reader);
  if (reader.remaining()) {
    Value stackTrace;  // optional fourth value
    if (!reader.value(stackTrace, 0)) return failure<MethodResponse>(reader);
    if (!stackTrace.isNull() && !stackTrace.asString()) {
      reader.fail("error stack trace is not a string");
      return failure<MethodResponse>(reader);
    }
  }
  if (!reader.end()) return failure<MethodResponse>(reader);
  FlutterError error{std::move(*code.getIf<std::string>()), std::nullopt, std::move(details)};
  if (const std::string* m = message.asString()) error.message = *m;
  return {MethodResponse(std::move(error)), {}};
}

}  // namespace pilvo::channels
