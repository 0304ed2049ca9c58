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
  const ScreenLayout laptop{768, {{0, 0, 1366, 740}}};  // a panel at the bottom
  const Decoration titleBar{0, 0, 0, 37};
  struct Row {
    WindowFrame frame;
    ScreenLayout layout;
    Decoration decoration;
    ScreenRect expected;
  };
  const Row rows[] = {
      // Kept, converted from a bottom-left origin: the bottom edge is y above the screen's bottom.
      {{50, 60, 1150, 760}, one, {}, {50, 260, 1150, 760}},
      {{50, 60, 1150, 760}, one, titleBar, {50, 260, 1150, 760}},
      {{2000, 100, 1400, 900}, two, titleBar, {2000, 440, 1400, 900}},     // on the taller monitor
      {{-5000, 100, 1280, 820}, {1080, {}}, {}, {-5000, 160, 1280, 820}},  // work areas unknown
      // Far off screen, title bar above the work area, or only a sliver of it
      // on screen: centred on the primary work area.
      {{1e308, 1e308, 1280, 820}, one, {}, {320, 146, 1280, 820}},
      {{-1e308, 100, 1280, 820}, one, {}, {320, 146, 1280, 820}},
      {{100, 300, 1280, 820}, one, {}, {320, 146, 1280, 820}},
      {{1900, 100, 1280, 820}, one, titleBar, {320, 127, 1280, 820}},
      // Too big for the monitor it lands on: fills its work area from the edge,
      // also below the minimum size where that does not fit.
      {{0, 0, 1e308, 1e308}, two, {}, {0, 0, 1920, 1080}},
      {{0, 0, 1e308, 1e308}, small, {}, {0, 0, 800, 600}},
      {{200, 10, 1150, 760}, laptop, titleBar, {200, 0, 1150, 703}},
      {{0, 0, 1e308, 1e308}, laptop, titleBar, {0, 0, 1366, 703}},
      {{0, 0, 1e308, 1e308}, laptop, {5, 5, 5, 51}, {5, 5, 1356, 684}},
      // A frame from a larger screen, its title bar now above the top: centred.
      {{200, 160, 1280, 820}, laptop, titleBar, {43, 0, 1280, 703}},
  };
  for (const auto& [frame, layout, decoration, expected] : rows) {
    EXPECT_EQ(placeRestoredFrame(frame, layout, decoration), expected)
        << "frame " << frame.x << "," << frame.y << " " << frame.width << "x" << frame.height;
  }
}

TEST(WindowFrameTest, MinimumShrinksToTheWorkAreaOnlyWhereItDoesNotFit) {
  const Decoration titleBar{0, 0, 0, 37};
  // Client-side decorations with a resize border, as GTK draws them without a compositor.
  const Decoration bordered{5, 5, 5, 51};
  const std::tuple<ScreenRect, Decoration, ContentSize> rows[] = {
      {{0, 32, 1920, 1048}, titleBar, {kMinWindowWidth, kMinWindowHeight}},
      {{0, 0, 1366, 768}, titleBar, {kMinWindowWidth, 731}},
      {{0, 0, 1366, 768}, bordered, {kMinWindowWidth, 712}},
      {{0, 32, 1366, 736}, {1, 0, 1, 45}, {kMinWindowWidth, 691}},  // frame and panel
      {{0, 0, 960, 540}, titleBar, {960, 503}},                     // 1920 x 1080 at scale 2
      {{0, 0, 100, 50}, titleBar, {kSmallestWindowWidth, kSmallestWindowHeight}},
  };
  for (const auto& [workarea, decoration, expected] : rows) {
    EXPECT_EQ(minimumContentSize(workarea, decoration), expected)
        << ::testing::PrintToString(workarea);
  }

  // A window that fits, closed and restored on the same screen, comes back
  // exactly, also when it is below the usual minimum because the screen is small.
  for (const ScreenLayout& layout :
       {ScreenLayout{768, {{0, 0, 1366, 740}}}, ScreenLayout{1080, {{0, 32, 1920, 1048}}}}) {
    const ScreenRect a = layout.workareas[0];
    for (const Decoration& d : {titleBar, bordered}) {
      const ContentSize minimum = minimumContentSize(a, d);
      for (const ScreenRect& place :
           {ScreenRect{a.x + d.left, a.y + d.top, minimum.width, minimum.height},
            ScreenRect{a.x + d.left + 30, a.y + d.top, a.width - d.width() - 30,
                       a.height - d.height()},
            ScreenRect{a.x + d.left + 100, a.y + a.height - d.bottom - minimum.height,
                       minimum.width, minimum.height}}) {
        const std::optional<std::string> stored =
            encodeFrame(frameFromScreen(place, layout.height));
        ASSERT_TRUE(stored);
        const std::optional<WindowFrame> frame = restoreFrame(stored);
        ASSERT_TRUE(frame);
        EXPECT_EQ(placeRestoredFrame(*frame, layout, d), place);
      }
    }
  }
}

}  // namespace
}  // namespace pilvo::host
