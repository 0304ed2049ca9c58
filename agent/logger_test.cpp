#include "agent/logger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "testing/fake_event_loop.h"
#include "testing/temp_dir.h"

namespace pilvo::agent {
namespace {

using pilvo::testing::readFile;

TEST(LoggerTest, AppendsTimestampedLinesToFileAndStandardError) {
  pilvo::testing::TempDir dir;
  pilvo::testing::FakeEventLoop clock;
  const std::string path = dir.file("state/pilvo-agent.log");
  ASSERT_EQ(::mkdir(dir.file("state").c_str(), 0755), 0);
  pilvo::testing::writeFile(path, "old line\n");
  ::chmod(path.c_str(), 0644);

  char* errBuf = nullptr;
  size_t errLen = 0;
  std::FILE* err = open_memstream(&errBuf, &errLen);
  {
    Logger logger(path, clock, err);
    logger.log("first");
    clock.advance(61.5);
    logger.log("second \u2014 dash");
  }
  std::fclose(err);
  const std::string expected =
      "[2025-03-04T09:05:07Z] first\n[2025-03-04T09:06:08Z] second \u2014 dash\n";
  EXPECT_EQ(readFile(path), "old line\n" + expected);
  EXPECT_EQ(std::string(errBuf, errLen), expected);
  EXPECT_EQ(pilvo::testing::fileMode(path), 0600) << "the log holds activity data";
  free(errBuf);
}

TEST(LoggerTest, UnusableLogDirectoryStillWritesStandardError) {
  pilvo::testing::TempDir dir;
  pilvo::testing::FakeEventLoop clock;
  pilvo::testing::writeFile(dir.file("state"), "a file where the directory should be");
  char* errBuf = nullptr;
  size_t errLen = 0;
  std::FILE* err = open_memstream(&errBuf, &errLen);
  {
    Logger logger(dir.file("state/pilvo-agent.log"), clock, err);
    EXPECT_FALSE(logger.hasFile());
    logger.log("still here");
  }
  std::fclose(err);
  EXPECT_EQ(std::string(errBuf, errLen), "[2025-03-04T09:05:07Z] still here\n");
  free(errBuf);
}

}  // namespace
}  // namespace pilvo::agent
