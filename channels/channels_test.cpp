// Reading plugin arguments. Channels, results and event sinks are tested
// through the UI-side contract suite (bridge_end_to_end_test.cpp).
#include <gtest/gtest.h>

#include "channels/value.h"

namespace pilvo::channels {
namespace {

TEST(ValueTest, MembersOfAnotherTypeCountAsMissingAndWholeNumbersMustBeWhole) {
  const Value args = makeMap({{"name", "x"},
                              {"count", 3},
                              {"big", int64_t{1} << 40},
                              {"whole", 4.0},
                              {"half", 4.5},
                              {"huge", 1e300},
                              {"flag", true}});
  EXPECT_EQ(*stringMember(args, "name"), "x");
  EXPECT_EQ(stringMember(args, "count"), nullptr);
  EXPECT_EQ(stringMember(Value("not a map"), "name"), nullptr);
  EXPECT_EQ(boolMember(args, "flag"), true);
  EXPECT_EQ(boolMember(args, "missing"), std::nullopt);
  EXPECT_EQ(numberMember(args, "count"), 3.0);
  EXPECT_EQ(listMember(args, "name"), nullptr);
  EXPECT_EQ(wholeNumberMember(args, "count"), 3);
  EXPECT_EQ(wholeNumberMember(args, "big"), int64_t{1} << 40);
  EXPECT_EQ(wholeNumberMember(args, "whole"), 4);
  for (const char* notWhole : {"half", "huge", "name"}) {
    EXPECT_EQ(wholeNumberMember(args, notWhole), std::nullopt) << notWhole;
  }
}

}  // namespace
}  // namespace pilvo::channels
