// The parsers of untrusted property bytes and the raw-motion classifier, with data alone.
//
// gtest first: Xlib's macros (None, Bool) clash with its names.
// clang-format off
#include <gtest/gtest.h>

#include "x11/window_properties.h"
#include "x11/x11_input_idleness.h"
// clang-format on

#include <X11/extensions/XInput2.h>

#include <tuple>

namespace pilvo::x11 {
namespace {

using namespace std::string_literals;

RawProperty bytes(std::string data) {
  return RawProperty{.type = 31, .format = 8, .bytes = std::move(data), .values = {}};
}

RawProperty items(std::vector<uint32_t> values, int format = 32) {
  return RawProperty{.type = 6, .format = format, .bytes = {}, .values = std::move(values)};
}

TEST(WindowPropertiesTest, WmClassToleratesMissingTerminatorsAndJunk) {
  using Text = std::optional<std::string>;
  const std::tuple<std::string, Text, Text> cases[] = {
      // bytes, instance, class
      {"xterm\0XTerm\0"s, "xterm", "XTerm"},
      {"xterm\0XTerm"s, "xterm", "XTerm"},
      {"xterm\0XTerm\0junk\0"s, "xterm", "XTerm"},
      {"lonely", "lonely", std::nullopt},
      {"inst\0"s, "inst", std::nullopt},
      {"\0Class\0"s, "", "Class"},
      {"in\xff\0Cl\xfe\0"s, "in\xff", "Cl\xfe"},  // repaired by the resolver
      {"", std::nullopt, std::nullopt},
  };
  for (const auto& [raw, instance, className] : cases) {
    const WmClass parsed = parseWmClass(bytes(raw));
    EXPECT_EQ(parsed.instance, instance) << raw;
    EXPECT_EQ(parsed.className, className) << raw;
  }
  EXPECT_FALSE(parseWmClass(items({1, 2})).instance) << "a 32-bit WM_CLASS is junk";
}

TEST(WindowPropertiesTest, CardinalsOnlyFromThirtyTwoBitDataAndTextRepairedNeverDropped) {
  EXPECT_EQ(parseFirstCardinal(items({0xfc00007, 5})), 0xfc00007u);
  for (const RawProperty& junk : {items({}), items({7}, 16), bytes("\x01\x02\x03\x04")}) {
    EXPECT_EQ(parseFirstCardinal(junk), std::nullopt);
  }
  EXPECT_TRUE(parseCardinalList(bytes("abcd")).empty());

  EXPECT_EQ(parseUtf8Text(bytes("Caf\xc3\xa9")), "Caf\xc3\xa9");
  EXPECT_EQ(parseUtf8Text(bytes("bad\xff tail")), "bad\xEF\xBF\xBD tail");
  EXPECT_EQ(parseUtf8Text(bytes("a\0b"s)), "a\0b"s);
  EXPECT_EQ(parseUtf8Text(items({65})), std::nullopt);
  EXPECT_EQ(latin1ToUtf8("Caf\xe9 \xff\x7f"), "Caf\xc3\xa9 \xc3\xbf\x7f");
}

TEST(WindowPropertiesTest, TaskbarWindowsMakeRegularApplications) {
  const WindowTypeAtoms atoms{
      .normal = 10, .utility = 12, .dock = 13, .desktop = 14, .skipTaskbar = 20};
  EXPECT_TRUE(isTaskbarWindow({10}, {}, false, atoms));
  EXPECT_TRUE(isTaskbarWindow({}, {}, false, atoms)) << "untyped top-level is normal";
  EXPECT_FALSE(isTaskbarWindow({}, {}, true, atoms)) << "untyped transient is a dialog";
  EXPECT_FALSE(isTaskbarWindow({10}, {21, 20}, false, atoms)) << "skips the taskbar";
  EXPECT_FALSE(isTaskbarWindow({12}, {}, false, atoms));
  EXPECT_TRUE(isTaskbarWindow({999, 10}, {}, false, atoms)) << "unknown types are skipped";
  EXPECT_FALSE(isTaskbarWindow({12, 10}, {}, false, atoms)) << "first known type wins";

  EXPECT_TRUE(isDesktopOrDockWindow({14}, atoms));
  EXPECT_TRUE(isDesktopOrDockWindow({999, 13}, atoms));
  EXPECT_FALSE(isDesktopOrDockWindow({10, 13}, atoms)) << "first known type wins";
  EXPECT_FALSE(isDesktopOrDockWindow({}, atoms));
}

// A touchpad or wheel mouse: x and y, plus scroll valuators 2 and 3.
TEST(RawMotionTest, MotionOfOnlyScrollValuatorsIsScrollingNotPointerMotion) {
  const std::set<int> scroll{2, 3};
  unsigned char mask[XIMaskLen(8)] = {};
  EXPECT_FALSE(isPointerMotion(scroll, mask, sizeof(mask))) << "no valuator moved";
  XISetMask(mask, 3);
  EXPECT_FALSE(isPointerMotion(scroll, mask, sizeof(mask))) << "vertical scroll only";
  XISetMask(mask, 2);
  EXPECT_FALSE(isPointerMotion(scroll, mask, sizeof(mask))) << "two-finger diagonal scroll";
  XISetMask(mask, 0);
  EXPECT_TRUE(isPointerMotion(scroll, mask, sizeof(mask))) << "moves while scrolling";
  unsigned char wide[XIMaskLen(40)] = {};
  XISetMask(wide, 33);  // a valuator beyond the first bytes (tablets have many)
  EXPECT_TRUE(isPointerMotion(scroll, wide, sizeof(wide)));
  EXPECT_TRUE(isPointerMotion({}, wide, sizeof(wide))) << "a device without scroll classes";
}

}  // namespace
}  // namespace pilvo::x11
