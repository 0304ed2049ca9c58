#include "channels/standard_codec.h"

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <random>
#include <sstream>

namespace pilvo::channels {
namespace {

Bytes hex(const std::string& text) {
  std::istringstream in(text);
  Bytes out;
  for (unsigned byte; in >> std::hex >> byte;) out.push_back(static_cast<uint8_t>(byte));
  return out;
}

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// What travels: a message value, a method call or a method reply (envelope).
using Wire = std::variant<Value, FlutterMethodCall, MethodResponse>;

Bytes encode(const Wire& wire) {
  if (const auto* v = std::get_if<Value>(&wire)) return encodeMessage(*v);
  if (const auto* c = std::get_if<FlutterMethodCall>(&wire)) return encodeMethodCall(*c);
  return encodeMethodResponse(std::get<MethodResponse>(wire));
}

// Decodes `bytes` as the same kind of thing as `kind`; the error text on failure.
DecodeResult<Wire> decodeAs(const Wire& kind, ByteView bytes) {
  return std::visit(
      [bytes](const auto& k) -> DecodeResult<Wire> {
        using T = std::decay_t<decltype(k)>;
        DecodeResult<T> r;
        if constexpr (std::is_same_v<T, Value>) r = decodeMessage(bytes);
        if constexpr (std::is_same_v<T, FlutterMethodCall>) r = decodeMethodCall(bytes);
        if constexpr (std::is_same_v<T, MethodResponse>) r = decodeMethodResponse(bytes);
        if (!r) return {std::nullopt, r.error};
        return {Wire(std::move(*r.value)), ""};
      },
      kind);
}

TEST(StandardCodecTest, EncodesAndDecodesTheWireFormatByteForByte) {
  struct Vector {
    Wire value;
    Bytes bytes;
    bool writtenSo = true;  // false: accepted on input, written differently
  };
  const FlutterError error{"error", std::nullopt, Value()};
  std::vector<Vector> vectors = {
      {Value(int32_t{0x01234567}), hex("03 67 45 23 01")},
      {Value(int32_t{-2147483647 - 1}), hex("03 00 00 00 80")},
      {Value(int64_t{2147483648}), hex("04 00 00 00 80 00 00 00 00")},
      {Value(1.0), hex("06 00 00 00 00 00 00 00 00 00 00 00 00 00 f0 3f")},
      {Value("hello"), hex("07 05 68 65 6c 6c 6f")},
      {Value("h\u263aw"), hex("07 05 68 e2 98 ba 77")},
      {Value(Bytes(254, 0)), cat(hex("08 fe fe 00"), Bytes(254, 0))},
      {Value(std::vector<int32_t>{0, -1, 2, -3, 4}),
       hex("09 05 00 00 00 00 00 00 ff ff ff ff 02 00 00 00 fd ff ff ff 04 00 00 00")},
      {Value(std::vector<int64_t>{}), hex("0a 00 00 00 00 00 00 00")},
      {Value(ValueList{Value(), Value(true), Value(42), Value(3.141592653589793), Value("hello"),
                       Value(ValueList{}), Value(ValueMap{})}),
       hex("0c 07 00 01 03 2a 00 00 00 06 00 00 00 00 00 00 18 2d 44 54 fb 21 09 40 "
           "07 05 68 65 6c 6c 6f 0c 00 0d 00")},
      {FlutterMethodCall{"hello", Value(ValueList{Value("count"), Value(42)})},
       hex("07 05 68 65 6c 6c 6f 0c 02 07 05 63 6f 75 6e 74 03 2a 00 00 00")},
      {FlutterMethodCall{"hello", Value(1.0)},
       hex("07 05 68 65 6c 6c 6f 06 00 00 00 00 00 00 f0 3f")},
      {FlutterMethodCall{"listen", Value()}, hex("07 06 6c 69 73 74 65 6e 00")},
      {MethodResponse(Value()), hex("00 00")},
      {MethodResponse(Value(42)), hex("00 03 2a 00 00 00")},
      {MethodResponse(Value(1)), hex("00 03 01 00 00 00")},  // also an event carrying 1
      {MethodResponse(error), hex("01 07 05 65 72 72 6f 72 00 00")},
      {MethodResponse(FlutterMethodNotImplemented{}), {}},
      // Padding inside a list counts from the start of the message too.
      {Value(ValueList{Value("x"), Value(std::vector<int32_t>{7}), Value(0.5),
                       Value(std::vector<float>{1.5f}), Value(std::vector<double>{})}),
       hex("0c 05 07 01 78 09 01 00 07 00 00 00 06 00 00 00 00 00 00 00 00 00 e0 3f "
           "0e 01 00 00 00 00 c0 3f 0b 00 00 00 00 00 00 00")},
      // Accepted on input only: non-minimal sizes, an error's fourth value,
      // the empty message; an int64 that fits is written as an int32.
      {Value("hi"), hex("07 fe 02 00 68 69"), false},
      {Value("hi"), hex("07 ff 02 00 00 00 68 69"), false},
      {MethodResponse(error), hex("01 07 05 65 72 72 6f 72 00 00 07 01 78"), false},
      {Value(), {}, false},
  };
  EXPECT_EQ(encodeMessage(Value(int64_t{7})), hex("03 07 00 00 00"));
  // Sizes switch form at 254 and 65536.
  for (const auto& [n, prefix] :
       std::vector<std::pair<size_t, std::string>>{{253, "07 fd"},
                                                   {254, "07 fe fe 00"},
                                                   {65535, "07 fe ff ff"},
                                                   {65536, "07 ff 00 00 01 00"}}) {
    vectors.push_back({Value(std::string(n, 'a')), cat(hex(prefix), Bytes(n, 'a'))});
  }
  // A double after a method name of any length starts on a multiple of 8, zero padded.
  for (uint8_t n = 1; n <= 17; ++n) {
    Bytes bytes = cat({7, n}, Bytes(n, 'm'));
    bytes.push_back(6);
    bytes.resize((bytes.size() + 7) / 8 * 8);
    vectors.push_back({FlutterMethodCall{std::string(n, 'm'), Value(2.5)},
                       cat(bytes, hex("00 00 00 00 00 00 04 40"))});
  }
  for (const auto& v : vectors) {
    EXPECT_EQ(v.writtenSo ? encode(v.value) : v.bytes, v.bytes);
    auto decoded = decodeAs(v.value, v.bytes);
    ASSERT_TRUE(decoded) << decoded.error;
    EXPECT_EQ(*decoded.value, v.value) << ::testing::PrintToString(v.bytes);
  }
}

TEST(StandardCodecTest, RejectsMalformedInputSayingWhy) {
  auto nested = [](int depth) {
    Bytes b;
    for (int i = 1; i < depth; ++i) b.insert(b.end(), {0x0c, 0x01});
    return cat(b, {0x0c, 0x00});
  };
  ASSERT_TRUE(decodeMessage(nested(kMaxNestingDepth)).ok());
  const Value msg;
  const FlutterMethodCall call;
  const MethodResponse reply;
  const std::vector<std::tuple<Wire, Bytes, std::string>> cases = {
      {msg, hex("0f"), "unknown type tag 15"},
      {msg, hex("80"), "unknown type tag 128"},
      {msg, hex("03 01 02"), "ends inside an int32"},
      {msg, hex("06 00 00"), "ends inside a float64"},
      {msg, hex("00 00"), "unexpected bytes"},
      {msg, hex("07 02 c3 28"), "not valid UTF-8"},
      {msg, hex("07 02 c0 80"), "not valid UTF-8"},     // overlong NUL
      {msg, hex("07 03 ed a0 80"), "not valid UTF-8"},  // UTF-16 surrogate
      {msg, hex("07 fe"), "ends inside a size"},
      {msg, nested(kMaxNestingDepth + 1), "nested deeper"},
      // Sizes beyond the message fail before anything is allocated for them.
      {msg, hex("07 ff ff ff ff 7f 61"), "larger than the rest"},
      {msg, hex("08 ff ff ff ff ff"), "larger than the rest"},
      {msg, hex("0b ff ff ff ff 7f 00 00"), "larger than the rest"},
      {msg, hex("0c ff ff ff ff ff 00"), "larger than the rest"},
      {msg, hex("0d ff ff ff ff ff 00 00"), "larger than the rest"},
      {call, {}, "ends inside a value"},
      {call, hex("03 01 00 00 00 00"), "method name"},
      {call, hex("07 01 61"), "ends inside a value"},
      {call, hex("07 01 61 00 00"), "unexpected bytes"},
      {reply, hex("02 00"), "reply envelope"},
      {reply, hex("01 03 01 00 00 00 00 00"), "error code"},
      {reply, hex("01 07 01 65 00"), "ends inside a value"},
      {reply, hex("00 00 00"), "unexpected bytes"},
  };
  for (const auto& [kind, bytes, why] : cases) {
    auto r = decodeAs(kind, bytes);
    EXPECT_FALSE(r.ok()) << ::testing::PrintToString(bytes);
    EXPECT_NE(r.error.find(why), std::string::npos) << r.error;
  }
}

// A random value of any type, nested a few levels deep; strings mix multi-byte
// characters and NULs, floating-point numbers are any bit pattern (NaNs too).
Value randomValue(std::mt19937& rng, int depth = 0) {
  auto pick = [&rng](uint32_t n) { return static_cast<int>(rng() % n); };
  auto bits = [&rng] { return uint64_t{rng()} << 32 | rng(); };
  auto many = [&](auto element) {
    std::vector<decltype(element())> v(static_cast<size_t>(pick(20)));
    for (auto& e : v) e = element();
    return v;
  };
  auto text = [&] {
    static const std::string kPieces[] = {
        "a", " ", std::string(1, '\0'), "\xc3\xa9", "\xe2\x98\xba", "\xf0\x9f\x98\x80"};
    std::string s;
    for (int i = pick(300); i > 0; --i) s += kPieces[pick(6)];
    return s;
  };
  const int kind = pick(depth < 4 ? 13 : 11);
  ValueList list;
  ValueMap map;
  for (int i = kind >= 11 ? pick(5) : 0; i > 0; --i) {
    if (kind == 11) list.push_back(randomValue(rng, depth + 1));
    if (kind == 12) map.emplace_back(randomValue(rng, depth + 1), randomValue(rng, depth + 1));
  }
  const std::function<Value()> make[] = {
      [] { return Value(); },
      [&] { return Value(pick(2) == 0); },
      [&] { return Value::integer(static_cast<int32_t>(rng())); },
      [&] { return Value(int64_t{1} << 40 | static_cast<int64_t>(rng()) << 1); },
      [&] { return Value(std::bit_cast<double>(bits())); },
      [&] { return Value(text()); },
      [&] { return Value(many([&] { return static_cast<uint8_t>(rng()); })); },
      [&] { return Value(many([&] { return static_cast<int32_t>(rng()); })); },
      [&] { return Value(many([&] { return static_cast<int64_t>(bits()); })); },
      [&] {
        return Value(many([&] { return std::bit_cast<float>(static_cast<uint32_t>(rng())); }));
      },
      [&] { return Value(many([&] { return std::bit_cast<double>(bits()); })); },
      [&] { return Value(std::move(list)); },
      [&] { return Value(std::move(map)); },
  };
  return make[kind]();
}

TEST(StandardCodecTest, GeneratedValuesSurviveARoundTripAtAnyOffset) {
  std::mt19937 rng(20260101);
  for (int i = 0; i < 2000; ++i) {
    const Value value = randomValue(rng);
    // As a message, and as arguments after method names of several lengths.
    for (const Wire& wire :
         {Wire(value), Wire(FlutterMethodCall{std::string(i % 9, 'x'), value})}) {
      const Bytes bytes = encode(wire);
      auto decoded = decodeAs(wire, bytes);
      ASSERT_TRUE(decoded) << decoded.error << " for " << value.debugString();
      ASSERT_EQ(*decoded.value, wire);
      // Every strict prefix is rejected, never crashes.
      for (size_t cut = 1; cut < bytes.size() && bytes.size() < 64; ++cut) {
        ASSERT_FALSE(decodeAs(wire, ByteView(bytes.data(), cut)).ok());
      }
    }
  }
}

}  // namespace
}  // namespace pilvo::channels
