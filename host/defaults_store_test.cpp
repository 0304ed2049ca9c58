#include "host/defaults_store.h"

#include <gtest/gtest.h>

#include "testing/temp_dir.h"

namespace pilvo::host {
namespace {

using namespace pilvo::testing;

TEST(DefaultsStoreTest, KeepsOtherKeysPrivatelyAndNeverThrowsAFileAway) {
  TempDir dir;
  DefaultsStore store(dir.path() + "/config/pilvo/defaults.ini");
  EXPECT_EQ(store.setString("Other", "kept"), "");
  EXPECT_EQ(store.setString("MainWindowFrame", "e30="), "");
  EXPECT_EQ(store.stringForKey("Other"), "kept");
  EXPECT_EQ(fileMode(store.path()), 0600);
  EXPECT_EQ(fileMode(dir.path() + "/config/pilvo"), 0700);

  // A file that cannot be read is moved aside before the next write.
  const std::string junk = "this is [not a key file\n\xff\xfe";
  writeFile(store.path(), junk);
  EXPECT_EQ(store.stringForKey("MainWindowFrame"), std::nullopt);
  EXPECT_EQ(store.setString("MainWindowFrame", "eyJ4IjoxfQ=="), "");
  EXPECT_EQ(store.stringForKey("MainWindowFrame"), "eyJ4IjoxfQ==");
  EXPECT_EQ(readFile(store.path() + ".unreadable"), junk);

  // Where nothing can be written, the answer says what to do.
  writeFile(dir.file("blocker"), "a file where a directory should be");
  EXPECT_NE(DefaultsStore(dir.file("blocker") + "/pilvo/defaults.ini").setString("K", "v"), "");
}

}  // namespace
}  // namespace pilvo::host
