#include "common/restart_budget.h"

#include <gtest/gtest.h>

namespace pilvo {
namespace {

using std::chrono::seconds;

TEST(RestartBudgetTest, AllowsTheLimitPerWindowAndRecoversAsOldRestartsAge) {
  RestartBudget budget(3, seconds(60));
  const RestartBudget::Clock::time_point t0{};
  EXPECT_TRUE(budget.allow(t0));
  EXPECT_TRUE(budget.allow(t0 + seconds(10)));
  EXPECT_TRUE(budget.allow(t0 + seconds(20)));
  EXPECT_FALSE(budget.allow(t0 + seconds(30))) << "a fourth within the minute";
  EXPECT_FALSE(budget.allow(t0 + seconds(59)));
  // Refusals are not counted: the first restart leaves the window at 60 s.
  EXPECT_TRUE(budget.allow(t0 + seconds(60)));
  EXPECT_FALSE(budget.allow(t0 + seconds(69)));
  EXPECT_TRUE(budget.allow(t0 + seconds(200)));
  EXPECT_TRUE(budget.allow(t0 + seconds(200)));
  EXPECT_TRUE(budget.allow(t0 + seconds(200)));
  EXPECT_FALSE(budget.allow(t0 + seconds(200)));
}

}  // namespace
}  // namespace pilvo
