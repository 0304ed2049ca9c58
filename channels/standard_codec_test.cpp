#include "channels/standard_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace pilvo::channels {
namespace {

Bytes hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string decodeError(const Bytes& bytes) {
  auto r = decodeMessage(bytes);
  EXPECT_FALSE(r.ok()) << "decoded " << (r.ok() ? r.value->debugString() : "");
  return r.error;
}

TEST(StandardCodecTest, MessageVectorsEncodeAndDecodeByteForByte) {
  const double pi = 3.141592653589793;
  const std::vector<std::pair<Value, std::string>> vectors = {
      {Value(int32_t{0x01234567}), "03 67 45 23 01"},
      {Value(int32_t{-2147483647 - 1}), "03 00 00 00 80"},
      {Value(int64_t{2147483648}), "04 00 00 00 80 00 00 00 00"},
      {Value(1.0), "06 00 00 00 00 00 00 00 00 00 00 00 00 00 f0 3f"},
      {Value("hello"), "07 05 68 65 6c 6c 6f"},
      {Value("h\u263aw"), "07 05 68 e2 98 ba 77"},
      {Value(std::vector<int32_t>{0, -1, 2, -3, 4}),
       "09 05 00 00 00 00 00 00 ff ff ff ff 02 00 00 00 fd ff ff ff 04 00 00 00"},
      {Value(std::vector<int64_t>{}), "0a 00 00 00 00 00 00 00"},
      {Value(ValueList{Value(), Value(true), Value(42), Value(pi), Value("hello"),
                       Value(ValueList{}), Value(ValueMap{})}),
       "0c 07 00 01 03 2a 00 00 00 06 00 00 00 00 00 00 18 2d 44 54 fb 21 09 40 07 05 68 65 6c 6c "
       "6f "
       "0c 00 0d 00"},
  };
  for (const auto& [value, bytes] : vectors) {
    EXPECT_EQ(encodeMessage(value), hex(bytes)) << value.debugString();
    auto decoded = decodeMessage(hex(bytes));
    ASSERT_TRUE(decoded) << decoded.error;
    EXPECT_EQ(*decoded.value, value);
  }
  Bytes zeros = concat(hex("08 fe fe 00"), Bytes(254, 0));
  EXPECT_EQ(encodeMessage(Value(Bytes(254, 0))), zeros);
  EXPECT_EQ(*decodeMessage(zeros).value, Value(Bytes(254, 0)));
  // An int64 that fits goes out as int32; an empty message is null.
  EXPECT_EQ(encodeMessage(Value(int64_t{7})), hex("03 07 00 00 00"));
  EXPECT_EQ(*decodeMessage({}).value, Value());
}

TEST(StandardCodecTest, MethodCodecVectors) {
  const FlutterMethodCall withList{"hello", Value(ValueList{Value("count"), Value(42)})};
  const Bytes listBytes = hex("07 05 68 65 6c 6c 6f 0c 02 07 05 63 6f 75 6e 74 03 2a 00 00 00");
  EXPECT_EQ(encodeMethodCall(withList), listBytes);
  EXPECT_EQ(*decodeMethodCall(listBytes).value, withList);

  const FlutterMethodCall withDouble{"hello", Value(1.0)};
  const Bytes doubleBytes = hex("07 05 68 65 6c 6c 6f 06 00 00 00 00 00 00 f0 3f");
  EXPECT_EQ(encodeMethodCall(withDouble), doubleBytes);
  EXPECT_EQ(*decodeMethodCall(doubleBytes).value, withDouble);

  EXPECT_EQ(encodeMethodCall({"listen", Value()}), hex("07 06 6c 69 73 74 65 6e 00"));
  EXPECT_EQ(encodeSuccessEnvelope(Value()), hex("00 00"));
  EXPECT_EQ(encodeSuccessEnvelope(Value(42)), hex("00 03 2a 00 00 00"));
  EXPECT_EQ(encodeSuccessEnvelope(Value(1)), hex("00 03 01 00 00 00"));
  EXPECT_EQ(encodeErrorEnvelope({"error", std::nullopt, Value()}),
            hex("01 07 05 65 72 72 6f 72 00 00"));
  EXPECT_TRUE(encodeMethodResponse(FlutterMethodNotImplemented{}).empty());

  EXPECT_EQ(*decodeMethodResponse(hex("00 03 2a 00 00 00")).value, MethodResponse(Value(42)));
  EXPECT_EQ(*decodeMethodResponse({}).value, MethodResponse(FlutterMethodNotImplemented{}));
  const FlutterError expected{"error", std::nullopt, Value()};
  EXPECT_EQ(*decodeMethodResponse(hex("01 07 05 65 72 72 6f 72 00 00")).value,
            MethodResponse(expected));
  // The optional fourth value (a stack trace) is accepted.
  EXPECT_EQ(*decodeMethodResponse(hex("01 07 05 65 72 72 6f 72 00 00 07 01 78")).value,
            MethodResponse(expected));
}

TEST(StandardCodecTest, SizesSwitchFormAtTheBoundaries) {
  const std::vector<std::pair<size_t, std::string>> cases = {
      {253, "07 fd"}, {254, "07 fe fe 00"}, {65535, "07 fe ff ff"}, {65536, "07 ff 00 00 01 00"}};
  for (const auto& [size, prefix] : cases) {
    const std::string text(size, 'a');
    const Bytes expected = concat(hex(prefix), Bytes(text.begin(), text.end()));
    EXPECT_EQ(encodeMessage(Value(text)), expected) << size;
    auto decoded = decodeMessage(expected);
    ASSERT_TRUE(decoded) << decoded.error;
    EXPECT_EQ(*decoded.value, Value(text));
  }
  // Readers accept a size in a longer form than needed.
  EXPECT_EQ(*decodeMessage(hex("07 fe 02 00 68 69")).value, Value("hi"));
  EXPECT_EQ(*decodeMessage(hex("07 ff 02 00 00 00 68 69")).value, Value("hi"));
}

TEST(StandardCodecTest, AlignmentCountsFromTheStartOfTheWholeMessage) {
  // A double after method names of every length lands on a multiple of 8.
  for (size_t n = 1; n <= 17; ++n) {
    const FlutterMethodCall call{std::string(n, 'm'), Value(2.5)};
    const Bytes bytes = encodeMethodCall(call);
    const size_t tagAt = 2 + n;
    const size_t valueAt = (tagAt + 1 + 7) / 8 * 8;
    ASSERT_EQ(bytes.size(), valueAt + 8) << n;
    for (size_t i = tagAt + 1; i < valueAt; ++i) EXPECT_EQ(bytes[i], 0) << n;
    double d;
    std::memcpy(&d, bytes.data() + valueAt, 8);
    EXPECT_EQ(d, 2.5);
    EXPECT_EQ(*decodeMethodCall(bytes).value, call);
  }
  // Inside a list: the int32 list after a one-byte string pads from 6 to 8.
  const Value nested(ValueList{Value("x"), Value(std::vector<int32_t>{7}), Value(0.5),
                               Value(std::vector<float>{1.5f}), Value(std::vector<double>{})});
  const Bytes bytes = encodeMessage(nested);
  EXPECT_EQ(bytes, hex("0c 05 07 01 78 09 01 00 07 00 00 00 06 00 00 00 00 00 00 00 00 00 e0 3f "
                       "0e 01 00 00 00 00 c0 3f 0b 00 00 00 00 00 00 00"));
  EXPECT_EQ(*decodeMessage(bytes).value, nested);
}

TEST(StandardCodecTest, RejectsMalformedInputWithAClearError) {
  EXPECT_NE(decodeError(hex("0f")).find("unknown type tag 15"), std::string::npos);
  EXPECT_NE(decodeError(hex("80")).find("unknown type tag 128"), std::string::npos);
  EXPECT_NE(decodeError(hex("03 01 02")).find("ends inside an int32"), std::string::npos);
  EXPECT_NE(decodeError(hex("06 00 00")).find("ends inside a float64"), std::string::npos);
  EXPECT_NE(decodeError(hex("00 00")).find("unexpected bytes"), std::string::npos);
  EXPECT_NE(decodeError(hex("07 02 c3 28")).find("not valid UTF-8"), std::string::npos);
  decodeError(hex("07 02 c0 80"));     // overlong NUL
  decodeError(hex("07 03 ed a0 80"));  // UTF-16 surrogate
  decodeError(hex("07 fe"));           // size cut short
  // Declared sizes beyond the message fail before anything is allocated for them.
  EXPECT_NE(decodeError(hex("07 ff ff ff ff 7f 61")).find("larger than the rest"),
            std::string::npos);
  decodeError(hex("08 ff ff ff ff ff"));
  decodeError(hex("0b ff ff ff ff 7f 00 00"));
  decodeError(hex("0c ff ff ff ff ff 00"));
  decodeError(hex("0d ff ff ff ff ff 00 00"));
  decodeError(hex("0c 02 00"));  // list shorter than its count
  // Nesting: 100 levels pass, 101 are refused.
  auto nested = [](size_t depth) {
    Bytes b;
    for (size_t i = 0; i + 1 < depth; ++i) b.insert(b.end(), {0x0c, 0x01});
    b.insert(b.end(), {0x0c, 0x00});
    return b;
  };
  EXPECT_TRUE(decodeMessage(nested(kMaxNestingDepth)).ok());
  EXPECT_NE(decodeError(nested(kMaxNestingDepth + 1)).find("nested deeper"), std::string::npos);

  EXPECT_FALSE(decodeMethodCall({}).ok());
  EXPECT_FALSE(decodeMethodCall(hex("03 01 00 00 00 00")).ok());            // name not a string
  EXPECT_FALSE(decodeMethodCall(hex("07 01 61")).ok());                     // arguments missing
  EXPECT_FALSE(decodeMethodCall(hex("07 01 61 00 00")).ok());               // trailing byte
  EXPECT_FALSE(decodeMethodResponse(hex("02 00")).ok());                    // unknown envelope
  EXPECT_FALSE(decodeMethodResponse(hex("01 03 01 00 00 00 00 00")).ok());  // code not a string
  EXPECT_FALSE(decodeMethodResponse(hex("01 07 01 65 00")).ok());           // details missing
  EXPECT_FALSE(decodeMethodResponse(hex("00 00 00")).ok());                 // trailing byte
}

// Random values of every type, nested a few levels.
class ValueGenerator {
 public:
  explicit ValueGenerator(uint32_t start) : rng_(start) {}

  Value next(int depth = 0) {
    const int kinds = depth < 4 ? 13 : 11;
    switch (pick(kinds)) {
      case 0:
        return Value();
      case 1:
        return Value(pick(2) == 0);
      case 2:
        return Value::integer(static_cast<int32_t>(rng_()));
      case 3:
        return Value(int64_t{1} << 40 | static_cast<int64_t>(rng_()) << 1);
      case 4:
        return Value(randomDouble());
      case 5:
        return Value(text());
      case 6:
        return Value(list<uint8_t>());
      case 7:
        return Value(list<int32_t>());
      case 8:
        return Value(list<int64_t>());
      case 9:
        return Value(list<float>());
      case 10:
        return Value(list<double>());
      case 11: {
        ValueList l;
        for (int i = pick(5); i > 0; --i) l.push_back(next(depth + 1));
        return Value(std::move(l));
      }
      default: {
        ValueMap m;
        for (int i = pick(5); i > 0; --i) m.emplace_back(next(depth + 1), next(depth + 1));
        return Value(std::move(m));
      }
    }
  }

 private:
  int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  double randomDouble() {
    uint64_t bits = static_cast<uint64_t>(rng_()) << 32 | rng_();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  std::string text() {
    static const char* const kPieces[] = {
        "a", "Z", " ", "\xc3\xa9", "\xe2\x98\xba", "\xf0\x9f\x98\x80"};
    std::string s;
    for (int i = pick(300); i > 0; --i)
      s += pick(10) == 0 ? std::string(1, '\0') : kPieces[pick(6)];
    return s;
  }
  template <typename T>
  std::vector<T> list() {
    std::vector<T> v(static_cast<size_t>(pick(20)));
    for (auto& e : v) {
      if constexpr (std::is_floating_point_v<T>) {
        e = static_cast<T>(randomDouble());
      } else {
        e = static_cast<T>(static_cast<uint64_t>(rng_()) << 32 | rng_());
      }
    }
    return v;
  }
  std::mt19937 rng_;
};

TEST(StandardCodecTest, GeneratedValuesSurviveARoundTripAtAnyOffset) {
  ValueGenerator generator(20260101);
  for (int i = 0; i < 2000; ++i) {
    const Value value = generator.next();
    const Bytes bytes = encodeMessage(value);
    auto decoded = decodeMessage(bytes);
    ASSERT_TRUE(decoded) << decoded.error << " for " << value.debugString();
    ASSERT_EQ(*decoded.value, value);
    // The same value as arguments after method names of several lengths.
    const FlutterMethodCall call{std::string(static_cast<size_t>(i % 9), 'x'), value};
    auto decodedCall = decodeMethodCall(encodeMethodCall(call));
    ASSERT_TRUE(decodedCall) << decodedCall.error;
    ASSERT_EQ(*decodedCall.value, call);
    // Every strict prefix is rejected, never crashes.
    if (bytes.size() < 64) {
      for (size_t cut = 1; cut < bytes.size(); ++cut) {
        ASSERT_FALSE(decodeMessage(ByteView(bytes.data(), cut)).ok());
      }
    }
  }
}

}  // namespace
}  // namespace pilvo::channels
