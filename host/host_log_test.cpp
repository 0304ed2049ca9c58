#include "host/host_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "testing/temp_dir.h"

namespace pilvo::host {
namespace {

TEST(HostLogTest, JournalSinkKeepsTheTextAndEchoesItToStandardError) {
  pilvo::testing::TempDir dir;
  const std::string path = dir.file("stderr");
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(file, 0);
  dup2(file, STDERR_FILENO);
  close(file);

  HostLogSink sink = journalLogSink();
  sink(HostLogLevel::kInfo, "Tavik: Overlay hidden");
  sink(HostLogLevel::kError, "Tavik: ERROR - could not save the window frame: disk full");

  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  EXPECT_EQ(pilvo::testing::readFile(path),
            "pilvo: Tavik: Overlay hidden\n"
            "pilvo: Tavik: ERROR - could not save the window frame: disk full\n");
}

}  // namespace
}  // namespace pilvo::host
