// gtest first: Xlib's macros (None, Bool) clash with its names.
// clang-format off
#include <gtest/gtest.h>

#include "x11/x11_input_idleness.h"
// clang-format on

#include <X11/extensions/XInput2.h>

namespace pilvo::x11 {
namespace {

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
