#include "x11/window_properties.h"

#include <gtest/gtest.h>

namespace pilvo::x11 {
namespace {

RawProperty bytes(std::string data, int format = 8) {
  return RawProperty{.type = 31, .format = format, .bytes = std::move(data), .values = {}};
}

RawProperty items(std::vector<uint32_t> values, int format = 32) {
  return RawProperty{.type = 6, .format = format, .bytes = {}, .values = std::move(values)};
}

TEST(WindowPropertiesTest, WmClassToleratesMissingTerminatorsAndJunk) {
  struct Case {
    std::string raw;
    std::optional<std::string> instance;
    std::optional<std::string> className;
  };
  const Case cases[] = {
      {std::string("xterm\0XTerm\0", 12), "xterm", "XTerm"},
      {std::string("xterm\0XTerm", 11), "xterm", "XTerm"},
      {std::string("xterm\0XTerm\0junk\0", 17), "xterm", "XTerm"},
      {"lonely", "lonely", std::nullopt},
      {std::string("inst\0", 5), "inst", std::nullopt},
      {std::string("\0Class\0", 7), "", "Class"},
      {std::string("in\xff\0Cl\xfe\0", 8), "in\xff", "Cl\xfe"},  // repaired by the resolver
      {"", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    const WmClass parsed = parseWmClass(bytes(c.raw));
    EXPECT_EQ(parsed.instance, c.instance) << c.raw;
    EXPECT_EQ(parsed.className, c.className) << c.raw;
  }
  EXPECT_FALSE(parseWmClass(items({1, 2})).instance) << "a 32-bit WM_CLASS is junk";
}

TEST(WindowPropertiesTest, CardinalsOnlyFromThirtyTwoBitData) {
  EXPECT_EQ(parseFirstCardinal(items({0x1c00007, 5})), 0x1c00007u);
  EXPECT_EQ(parseFirstCardinal(items({})), std::nullopt);
  EXPECT_EQ(parseFirstCardinal(items({7}, 16)), std::nullopt);
  EXPECT_EQ(parseFirstCardinal(bytes("\x01\x02\x03\x04")), std::nullopt);
  EXPECT_EQ(parseCardinalList(items({3, 1, 2})), (std::vector<uint32_t>{3, 1, 2}));
  EXPECT_TRUE(parseCardinalList(bytes("abcd")).empty());
}

TEST(WindowPropertiesTest, TextIsRepairedNeverDropped) {
  EXPECT_EQ(parseUtf8Text(bytes("Caf\xc3\xa9")), "Caf\xc3\xa9");
  EXPECT_EQ(parseUtf8Text(bytes("bad\xff tail")), "bad\xEF\xBF\xBD tail");
  const std::string withNul("a\0b", 3);
  EXPECT_EQ(parseUtf8Text(bytes(withNul)), withNul);
  EXPECT_EQ(parseUtf8Text(bytes("")), "");
  EXPECT_EQ(parseUtf8Text(items({65})), std::nullopt);
  EXPECT_EQ(latin1ToUtf8("Caf\xe9 \xff\x7f"), "Caf\xc3\xa9 \xc3\xbf\x7f");
}

TEST(WindowPropertiesTest, TaskbarWindowsMakeRegularApplications) {
  const WindowTypeAtoms atoms{.normal = 10,
                              .dialog = 11,
                              .utility = 12,
                              .dock = 13,
                              .desktop = 14,
                              .toolbar = 15,
                              .menu = 16,
                              .splash = 17,
                              .skipTaskbar = 20};
  EXPECT_TRUE(isTaskbarWindow({10}, {}, false, atoms));
  EXPECT_TRUE(isTaskbarWindow({}, {}, false, atoms)) << "untyped top-level is normal";
  EXPECT_FALSE(isTaskbarWindow({}, {}, true, atoms)) << "untyped transient is a dialog";
  EXPECT_FALSE(isTaskbarWindow({10}, {21, 20}, false, atoms)) << "skips the taskbar";
  EXPECT_FALSE(isTaskbarWindow({12}, {}, false, atoms));
  EXPECT_FALSE(isTaskbarWindow({13}, {}, false, atoms));
  EXPECT_TRUE(isTaskbarWindow({999, 10}, {}, false, atoms)) << "unknown types are skipped";
  EXPECT_FALSE(isTaskbarWindow({12, 10}, {}, false, atoms)) << "first known type wins";
}

}  // namespace
}  // namespace pilvo::x11
