#include "host/window_frame.h"

#include <gtest/gtest.h>

namespace pilvo::host {
namespace {

std::string base64(const std::string& bytes) {
  // Standard Base64 of any bytes, so tests can store text that is not a frame.
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t b = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) b |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) b |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(b >> 18) & 63];
    out += kAlphabet[(b >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(b >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[b & 63] : '=';
  }
  return out;
}

std::optional<WindowFrame> restoreJson(const std::string& json) {
  return restoreFrame(base64(json));
}

TEST(WindowFrameTest, RestoresMembersWithDefaultsAndMinimumSize) {
  EXPECT_EQ(restoreJson(R"({"x": 50, "y": 60, "width": 900, "height": 500})"),
            (WindowFrame{50, 60, 1150, 760}));
  EXPECT_EQ(restoreJson(R"({"width": 1400})"), (WindowFrame{100, 100, 1400, 820}));
  EXPECT_EQ(restoreJson("{}"), (WindowFrame{100, 100, 1280, 820})) << "a frame, not centred";
  EXPECT_EQ(restoreJson(R"({"height": 2000.5, "x": -30.25, "other": 7})"),
            (WindowFrame{-30.25, 100, 1280, 2000.5}));
  EXPECT_EQ(restoreJson(R"({"width": -5, "height": -1e308})"), (WindowFrame{100, 100, 1150, 760}));
}

TEST(WindowFrameTest, UnusableValuesGiveTheDefaultPlacement) {
  EXPECT_EQ(restoreFrame(std::nullopt), std::nullopt);
  for (const std::string& stored :
       {std::string(""), std::string("%%%%"), std::string("e30"), base64("{}") + "\n",
        " " + base64("{}"), std::string("e=30"), std::string("e30=="), std::string("=e30")}) {
    EXPECT_EQ(restoreFrame(stored), std::nullopt) << "stored: [" << stored << "]";
  }
  for (const char* json :
       {"not json", "[1, 2]", "5", "null", R"({"x": "5"})", R"({"x": null})", R"({"y": true})",
        R"({"width": {"a": 1}})", R"({"other": "text"})", R"({"x": 1e400})", R"({"x": NaN})",
        "{\"x\": 1} trailing", "{\"x\": 1"}) {
    EXPECT_EQ(restoreJson(json), std::nullopt) << json;
  }
}

TEST(WindowFrameTest, EncodedFrameRestoresToItself) {
  const WindowFrame frame{12.5, -40, 1333, 901};
  std::optional<std::string> stored = encodeFrame(frame);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
            std::string::npos);
  EXPECT_EQ(restoreFrame(stored), frame);
  EXPECT_EQ(encodeFrame(WindowFrame{0, 0, std::numeric_limits<double>::infinity(), 1}),
            std::nullopt);
}

const ScreenLayout kOneMonitor{1080, {{0, 32, 1920, 1048}}};
const ScreenLayout kTwoMonitors{1440, {{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}}};

TEST(WindowFrameTest, ReachableFramesKeepTheirPlaceInScreenCoordinates) {
  // Bottom-left origin: the window's bottom edge is 60 above the screen's bottom.
  EXPECT_EQ(placeRestoredFrame({50, 60, 1150, 760}, kOneMonitor), (ScreenRect{50, 260, 1150, 760}));
  EXPECT_EQ(placeRestoredFrame({100, 100, 1280, 820}, kOneMonitor),
            (ScreenRect{100, 160, 1280, 820}));
  // On the second, taller monitor.
  EXPECT_EQ(placeRestoredFrame({2000, 100, 1400, 900}, kTwoMonitors),
            (ScreenRect{2000, 440, 1400, 900}));
  // Place and stored form convert back and forth.
  const ScreenRect rect{300, 200, 1200, 800};
  EXPECT_EQ(placeRestoredFrame(frameFromScreen(rect, 1080), kOneMonitor), rect);
  // Without known work areas the frame is only converted.
  EXPECT_EQ(placeRestoredFrame({-5000, 100, 1280, 820}, ScreenLayout{1080, {}}),
            (ScreenRect{-5000, 160, 1280, 820}));
}

TEST(WindowFrameTest, UnreachableOrOversizedFramesAreBroughtBack) {
  // Far off screen: centred on the primary work area.
  EXPECT_EQ(placeRestoredFrame({1e308, 1e308, 1280, 820}, kOneMonitor),
            (ScreenRect{320, 146, 1280, 820}));
  EXPECT_EQ(placeRestoredFrame({-1e308, 100, 1280, 820}, kOneMonitor),
            (ScreenRect{320, 146, 1280, 820}));
  // Title bar above the top of the work area (under the panel or off screen).
  EXPECT_EQ(placeRestoredFrame({100, 300, 1280, 820}, kOneMonitor).y, 146);
  // Only a sliver of the title bar on screen.
  EXPECT_EQ(placeRestoredFrame({1900, 100, 1280, 820}, kOneMonitor).x, 320);
  // Huge sizes shrink to the largest work area, never below the minimum.
  const ScreenRect huge = placeRestoredFrame({0, 0, 1e308, 1e308}, kTwoMonitors);
  EXPECT_EQ(huge.width, 2560);
  EXPECT_EQ(huge.height, 1440);
  const ScreenRect small =
      placeRestoredFrame({0, 0, 1e308, 1e308}, ScreenLayout{600, {{0, 0, 800, 600}}});
  EXPECT_EQ(small.width, kMinWindowWidth);
  EXPECT_EQ(small.height, kMinWindowHeight);
  EXPECT_EQ(small.y, 0) << "the title bar stays on screen even when the window is too big";
}

}  // namespace
}  // namespace pilvo::host
