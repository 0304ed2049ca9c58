#include "agent/logger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace pilvo::agent
