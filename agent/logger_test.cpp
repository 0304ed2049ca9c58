#include "agent/logger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "agent/constants.h"
#include "testing/fake_event_loop.h"
#include "testing/temp_dir.h"

namespace pilvo::agent {
namespace {

TEST(LoggerTest, AppendsTimestampedLinesPrivatelyAndAlwaysToStandardError) {
  pilvo::testing::TempDir dir;
  pilvo::testing::FakeEventLoop clock;
  const std::string path = dir.file("state/pilvo-agent.log");
  pilvo::testing::writeFile(dir.file("blocked"), "a file where the log directory should be");
  ::mkdir(dir.file("state").c_str(), 0755);
  pilvo::testing::writeFile(path, "old line\n");
  for (const std::string dirName : {"state", "blocked"}) {
    char* errBuf = nullptr;
    size_t errLen = 0;
    std::FILE* err = open_memstream(&errBuf, &errLen);
    {
      Logger logger(dir.file(dirName + "/pilvo-agent.log"), clock, err);
      logger.log("first");
      clock.advance(61.5);
      logger.log("second \u2014 dash");
    }
    std::fclose(err);
    const std::string expected = dirName == "state"
        ? "[2025-03-04T09:05:07Z] first\n[2025-03-04T09:06:08Z] second \u2014 dash\n"
        : "[2025-03-04T09:06:08Z] first\n[2025-03-04T09:07:10Z] second \u2014 dash\n";
    EXPECT_EQ(std::string(errBuf, errLen), expected) << dirName;
    free(errBuf);
  }
  EXPECT_EQ(pilvo::testing::readFile(path),
            "old line\n[2025-03-04T09:05:07Z] first\n[2025-03-04T09:06:08Z] second \u2014 dash\n");
  EXPECT_EQ(pilvo::testing::fileMode(path), 0600) << "the log holds activity data";
}

TEST(LoggerTest, EveryMessageIsExactlyOneLine) {
  pilvo::testing::FakeEventLoop clock;
  const struct {
    std::string message;
    std::string logged;
  } cases[] = {
      {"appSwitch: evil\n[2025-03-04T09:05:07Z] User returned from idle",
       "appSwitch: evil\\n[2025-03-04T09:05:07Z] User returned from idle"},
      {"a\rb\tc", "a\\rb\\tc"},
      {std::string("nul\0esc\x1b del\x7f", sizeof "nul\0esc\x1b del\x7f" - 1),
       "nul\\x00esc\\x1b del\\x7f"},
      {"nel\u0085 csi\u009b ls\u2028 ps\u2029", "nel\\u0085 csi\\u009b ls\\u2028 ps\\u2029"},
      // Printable text, other separators and broken UTF-8 pass unchanged.
      {"caf\u00e9 \u2014 \u00a0 \\n \xc2", "caf\u00e9 \u2014 \u00a0 \\n \xc2"},
  };
  for (const auto& c : cases) {
    char* errBuf = nullptr;
    size_t errLen = 0;
    std::FILE* err = open_memstream(&errBuf, &errLen);
    {
      Logger logger("", clock, err);
      logger.log(c.message);
    }
    std::fclose(err);
    EXPECT_EQ(std::string(errBuf, errLen), "[2025-03-04T09:05:07Z] " + c.logged + "\n");
    free(errBuf);
  }
}

TEST(LoggerTest, StateDirectoryKeepsItsModeAndALargeLogIsRotatedOnce) {
  pilvo::testing::TempDir dir;
  pilvo::testing::FakeEventLoop clock;
  // A missing state directory is created private; an existing one (it may be
  // the home directory) is never changed.
  { Logger logger(dir.file("new/state/pilvo-agent.log"), clock, nullptr); }
  EXPECT_EQ(pilvo::testing::fileMode(dir.file("new/state")), 0700);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(pilvo::testing::fileMode(dir.file("new")), static_cast<int>(0755 & ~mask))
      << "a parent is not Pilvo's own";
  ::mkdir(dir.file("shared").c_str(), 0755);
  ::chmod(dir.file("shared").c_str(), 0755);
  const std::string path = dir.file("shared/pilvo-agent.log");
  pilvo::testing::writeFile(path + ".1", "older\n");
  ::chmod((path + ".1").c_str(), 0644);

  for (const long long size : {kLogRotateBytes, kLogRotateBytes + 1}) {
    pilvo::testing::writeFile(path, "old\n");
    ASSERT_EQ(::truncate(path.c_str(), size), 0);
    {
      Logger logger(path, clock, nullptr);
      logger.rotateIfLarge();
      logger.log("new");
    }
    if (size == kLogRotateBytes) {
      EXPECT_EQ(pilvo::testing::readFile(path).size(), static_cast<size_t>(size) + 27);
      EXPECT_EQ(pilvo::testing::readFile(path + ".1"), "older\n") << "at the cap: no rotation";
    } else {
      EXPECT_EQ(pilvo::testing::readFile(path), "[2025-03-04T09:05:07Z] new\n");
      EXPECT_EQ(pilvo::testing::readFile(path + ".1").substr(0, 4), "old\n");
      EXPECT_EQ(pilvo::testing::fileMode(path + ".1"), 0600);
      EXPECT_EQ(pilvo::testing::fileMode(path), 0600);
    }
  }
  EXPECT_EQ(pilvo::testing::fileMode(dir.file("shared")), 0755);
}

}  // namespace
}  // namespace pilvo::agent
