#include "host/defaults_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testing/temp_dir.h"

namespace pilvo::host {
namespace {

using pilvo::testing::TempDir;

TEST(DefaultsStoreTest, StoresPrivatelyAndKeepsOtherKeys) {
  TempDir dir;
  DefaultsStore store(dir.path() + "/config/pilvo/defaults.ini");
  EXPECT_EQ(store.stringForKey("MainWindowFrame"), std::nullopt);

  EXPECT_EQ(store.setString("Other", "kept"), "");
  EXPECT_EQ(store.setString("MainWindowFrame", "eyJ4IjoxfQ=="), "");
  EXPECT_EQ(store.setString("MainWindowFrame", "e30="), "");
  EXPECT_EQ(store.stringForKey("MainWindowFrame"), "e30=");
  EXPECT_EQ(store.stringForKey("Other"), "kept");
  EXPECT_EQ(DefaultsStore(store.path()).stringForKey("MainWindowFrame"), "e30=");
  EXPECT_EQ(pilvo::testing::fileMode(store.path()), 0600);
  EXPECT_EQ(pilvo::testing::fileMode(dir.path() + "/config/pilvo"), 0700);
}

TEST(DefaultsStoreTest, UnreadableFileIsMovedAsideNotLost) {
  TempDir dir;
  const std::string path = dir.file("defaults.ini");
  pilvo::testing::writeFile(path, "this is [not a key file\n\xff\xfe");
  DefaultsStore store(path);
  EXPECT_EQ(store.stringForKey("MainWindowFrame"), std::nullopt);
  EXPECT_EQ(store.setString("MainWindowFrame", "e30="), "");
  EXPECT_EQ(store.stringForKey("MainWindowFrame"), "e30=");
  EXPECT_EQ(pilvo::testing::readFile(path + ".unreadable"), "this is [not a key file\n\xff\xfe");
}

TEST(DefaultsStoreTest, UnwritableLocationSaysWhatToDo) {
  TempDir dir;
  pilvo::testing::writeFile(dir.file("blocker"), "a file where a directory should be");
  DefaultsStore store(dir.file("blocker") + "/pilvo/defaults.ini");
  EXPECT_NE(store.setString("MainWindowFrame", "e30="), "");
}

}  // namespace
}  // namespace pilvo::host
