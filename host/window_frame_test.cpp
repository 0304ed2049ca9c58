#include "host/window_frame.h"

#include <glib.h>
#include <gtest/gtest.h>

namespace pilvo::host {

inline void PrintTo(const ScreenRect& r, std::ostream* out) {
  *out << r.x << "," << r.y << " " << r.width << "x" << r.height;
}

namespace {

// Standard Base64 (GLib's), so a row can store text that is not a frame.
std::string b64(const std::string& text) {
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(text.data()), text.size());
  std::string out = encoded;
  g_free(encoded);
  return out;
}

using namespace std::string_literals;

TEST(WindowFrameTest, StoredValueGivesAFrameOrTheDefaultPlacement) {
  std::vector<std::pair<std::optional<std::string>, std::optional<WindowFrame>>> rows = {
      {b64(R"({"x": 50, "y": 60, "width": 900, "height": 500})"), WindowFrame{50, 60, 1150, 760}},
      {b64(R"({"width": 1400})"), WindowFrame{100, 100, 1400, 820}},
      {b64("{}"), WindowFrame{100, 100, 1280, 820}},  // a frame, not centred
      {b64(R"({"height": 2000.5, "x": -30.25, "o": 7})"), WindowFrame{-30.25, 100, 1280, 2000.5}},
      {b64(R"({"width": -5, "height": -1e308})"), WindowFrame{100, 100, 1150, 760}},
      {std::nullopt, std::nullopt},
  };
  // Not strict Base64 ("ew==fQ==" is "{" and "}" with padding inside), or not a JSON
  // object of finite numbers: the default placement.
  for (std::string bad : {""s, "%%%%"s, "e30"s, b64("{}") + "\n", " " + b64("{}"), "e=30"s,
                          "e30=="s, "=e30"s, "ew==fQ=="s}) {
    rows.emplace_back(bad, std::nullopt);
  }
  for (const char* json : {"not json", "[1, 2]", "null", R"({"x": "5"})", R"({"y": true})",
                           R"({"width": {"a": 1}})", R"({"other": "text"})", R"({"x": 1e400})",
                           R"({"x": NaN})", R"({"x": 1} trailing)", R"({"x": 1)"}) {
    rows.emplace_back(b64(json), std::nullopt);
  }
  for (const auto& [stored, expected] : rows) {
    EXPECT_EQ(restoreFrame(stored), expected) << "stored: [" << stored.value_or("(none)") << "]";
  }

  // JSON cannot hold infinity, so such a frame is not stored. (What is
  // stored coming back unchanged is proven by host_window_test.)
  EXPECT_EQ(encodeFrame({0, 0, std::numeric_limits<double>::infinity(), 1}), std::nullopt);
}

TEST(WindowFrameTest, RestoredFrameIsPlacedWhereItCanBeReached) {
  const ScreenLayout one{1080, {{0, 32, 1920, 1048}}};
  const ScreenLayout two{1440, {{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}}};
  const ScreenLayout small{600, {{0, 0, 800, 600}}};
  const std::tuple<WindowFrame, ScreenLayout, ScreenRect> rows[] = {
      // Kept, converted from a bottom-left origin: the bottom edge is y above the screen's bottom.
      {{50, 60, 1150, 760}, one, {50, 260, 1150, 760}},
      {{2000, 100, 1400, 900}, two, {2000, 440, 1400, 900}},  // on the taller second monitor
      {{-5000, 100, 1280, 820}, {1080, {}}, {-5000, 160, 1280, 820}},  // work areas unknown
      // Far off screen, title bar above the work area, or only a sliver of it
      // on screen: centred on the primary work area.
      {{1e308, 1e308, 1280, 820}, one, {320, 146, 1280, 820}},
      {{-1e308, 100, 1280, 820}, one, {320, 146, 1280, 820}},
      {{100, 300, 1280, 820}, one, {320, 146, 1280, 820}},
      {{1900, 100, 1280, 820}, one, {320, 146, 1280, 820}},
      // Huge sizes shrink to the largest work area, never below the minimum;
      // the title bar stays on screen even when the window is too big.
      {{0, 0, 1e308, 1e308}, two, {0, 0, 2560, 1440}},
      {{0, 0, 1e308, 1e308}, small, {-175, 0, kMinWindowWidth, kMinWindowHeight}},
  };
  for (const auto& [frame, layout, expected] : rows) {
    EXPECT_EQ(placeRestoredFrame(frame, layout), expected)
        << "frame " << frame.x << "," << frame.y << " " << frame.width << "x" << frame.height;
  }
}

}  // namespace
}  // namespace pilvo::host
