#include <gtest/gtest.h>

#include <cstdlib>

#include "common/timestamp.h"
#include "common/utf8.h"

namespace pilvo {
namespace {

using std::chrono::system_clock;

TEST(TimestampTest, AlwaysTwentyCharactersUtcWholeSeconds) {
  EXPECT_EQ(formatTimestamp(system_clock::from_time_t(1741079107) + std::chrono::milliseconds(999)),
            "2025-03-04T09:05:07Z");
  EXPECT_EQ(formatTimestamp(system_clock::from_time_t(0)), "1970-01-01T00:00:00Z");
}

TEST(TimestampTest, SubtractingDaysKeepsLocalWallClockAcrossDaylightSaving) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "Europe/Helsinki", 1);
  tzset();
  // 2025-04-15T09:00:00 local (UTC+3) minus 30 days is 2025-03-16T09:00 local (UTC+2).
  auto t = system_clock::from_time_t(1744696800);
  auto earlier = subtractLocalDays(t, 30);
  ASSERT_TRUE(earlier);
  EXPECT_EQ(formatTimestamp(*earlier), "2025-03-16T07:00:00Z");
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}

TEST(Utf8Test, RepairsInvalidSequencesAndKeepsEverythingElse) {
  EXPECT_EQ(repairUtf8("plain ✓ text"), "plain ✓ text");
  EXPECT_EQ(repairUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(repairUtf8("a\xff" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(repairUtf8("\xe2\x98"), "\xEF\xBF\xBD");           // truncated sequence
  EXPECT_EQ(repairUtf8("\xc0\xaf"), "\xEF\xBF\xBD");           // overlong form
  EXPECT_EQ(repairUtf8("x\xed\xa0\x80y"), "x\xEF\xBF\xBDy");   // surrogate
}

}  // namespace
}  // namespace pilvo
