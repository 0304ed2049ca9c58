#include "channels/bridge_frame.h"

#include <gtest/gtest.h>

#include "channels/json_mapping.h"

namespace pilvo::channels {
namespace {

TEST(FrameReaderTest, FramesSurviveAnySplitOfTheStream) {
  const std::vector<Frame> frames = {
      {FrameKind::kMessage, 7, "com.tavik/tracking", encodeMethodCall({"getRunningApps", Value()})},
      {FrameKind::kReply, 7, {}, {}},
      {FrameKind::kMessage, 0, "c", Bytes(70000, 0xab)},
      {FrameKind::kError, 0, {}, {'b', 'y', 'e'}},
  };
  Bytes stream;
  for (const auto& f : frames) {
    const Bytes b = encodeFrame(f);
    stream.insert(stream.end(), b.begin(), b.end());
  }
  EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 11),
            (Bytes{0x2a, 0, 0, 0, 0x01, 7, 0, 0, 0, 0x12, 0x00}));
  for (size_t step : {size_t{1}, size_t{3}, size_t{4096}, stream.size()}) {
    FrameReader reader;
    std::vector<Frame> got;
    for (size_t at = 0; at < stream.size(); at += step) {
      ASSERT_TRUE(reader.feed(ByteView(stream).subspan(at, std::min(step, stream.size() - at))));
      while (auto f = reader.next()) got.push_back(std::move(*f));
    }
    EXPECT_EQ(got, frames) << "step " << step;
    EXPECT_EQ(reader.buffered(), 0u);
  }
}

TEST(FrameReaderTest, MalformedFramesBreakTheStreamForGood) {
  const std::vector<std::pair<Bytes, std::string>> cases = {
      // Too large: refused from the length field alone, before the body arrives.
      {{0x01, 0x04, 0x00, 0x00}, "larger than the limit"},
      {{0x02, 0, 0, 0, 0x02, 0}, "too short"},
      {{0x05, 0, 0, 0, 0x09, 0, 0, 0, 0}, "unknown frame kind"},
      {{0x05, 0, 0, 0, 0x01, 0, 0, 0, 0}, "too short"},
      {{0x07, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0}, "invalid length 0"},
      {{0x08, 0, 0, 0, 0x01, 0, 0, 0, 0, 5, 0, 'a'}, "invalid length 5"},
      {{0x08, 0, 0, 0, 0x01, 0, 0, 0, 0, 1, 0, 0xff}, "not valid UTF-8"},
  };
  for (const auto& [bytes, why] : cases) {
    FrameReader reader(1000);
    reader.feed(bytes);
    EXPECT_FALSE(reader.next().has_value());
    EXPECT_NE(reader.error().find(why), std::string::npos) << reader.error();
    EXPECT_FALSE(reader.feed(Bytes{0}));  // stays broken
  }
}

TEST(JsonMappingTest, NumbersStringsAndForcedTypes) {
  std::string error;
  auto v = valueFromJsonText(
      R"({"z":1,"a":2147483648,"f":1.0,"n":null,"l":[true,"x"],
          "i64":{"$int64":5},"d":{"$float64":2},"b":{"$bytes":"AAH/"},
          "i32s":{"$int32List":[1,-2]},"f32s":{"$float32List":[0.5]},
          "m":{"$map":[[1,"one"]]},"nan":{"$float64":"NaN"}})",
      &error);
  ASSERT_TRUE(v) << error;
  const Value expected = makeMap({{"z", 1},
                                  {"a", int64_t{2147483648}},
                                  {"f", 1.0},
                                  {"n", Value()},
                                  {"l", Value(ValueList{Value(true), Value("x")})},
                                  {"i64", int64_t{5}},
                                  {"d", 2.0},
                                  {"b", Value(Bytes{0, 1, 0xff})},
                                  {"i32s", Value(std::vector<int32_t>{1, -2})},
                                  {"f32s", Value(std::vector<float>{0.5f})},
                                  {"m", Value(ValueMap{{Value(1), Value("one")}})},
                                  {"nan", Value(std::numeric_limits<double>::quiet_NaN())}});
  EXPECT_EQ(*v, expected);
  // Back to JSON and in again: nothing lost, member order kept.
  const Json json = valueToJson(expected);
  EXPECT_EQ(json.begin().key(), "z");
  EXPECT_EQ(*valueFromJson(json, &error), expected);

  for (const char* bad :
       {"{", R"({"$int64":1.5})", R"({"$bytes":"**"})", R"({"$int32List":[4294967296]})",
        "18446744073709551615", R"({"$map":[[1]]})"}) {
    error.clear();
    EXPECT_FALSE(valueFromJsonText(bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

}  // namespace
}  // namespace pilvo::channels
