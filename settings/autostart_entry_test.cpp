#include "settings/autostart_entry.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/temp_dir.h"

namespace pilvo::settings {
namespace {

using testing::fileMode;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

const char* kInstalled =
    "[Desktop Entry]\nType=Application\nName=Pilvo\nName[fi]=Pilvo FI\nExec=pilvo\n"
    "Icon=com.pilvo.Pilvo\nTryExec=pilvo\nStartupWMClass=com.pilvo.Pilvo\n";

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (GDir* d = g_dir_open(dir.c_str(), 0, nullptr)) {
    while (const char* name = g_dir_read_name(d)) names.emplace_back(name);
    g_dir_close(d);
  }
  return names;
}

TEST(AutostartEntryTest, EnablingWritesTheInstalledEntryStartingThisProgram) {
  TempDir config;
  AutostartEntry entry(config.path(), kInstalled, "/opt/My Apps/pilvo");
  ASSERT_EQ(entry.enable(), "");
  EXPECT_EQ(entry.path(), config.path() + "/autostart/com.pilvo.Pilvo.desktop");
  EXPECT_EQ(fileMode(entry.path()), 0644);

  GKeyFile* file = g_key_file_new();
  ASSERT_TRUE(
      g_key_file_load_from_file(file, entry.path().c_str(), G_KEY_FILE_KEEP_TRANSLATIONS, nullptr));
  auto get = [&](const char* key) {
    char* v = g_key_file_get_string(file, "Desktop Entry", key, nullptr);
    std::string s = v ? v : "<absent>";
    g_free(v);
    return s;
  };
  EXPECT_EQ(get("Exec"), "\"/opt/My Apps/pilvo\"");
  EXPECT_EQ(get("Name[fi]"), "Pilvo FI");
  EXPECT_EQ(get("Icon"), "com.pilvo.Pilvo");
  EXPECT_EQ(get("TryExec"), "<absent>");  // would name a program other than Exec's
  g_key_file_free(file);

  // Exec's argument, as the desktop's launcher splits it.
  int argc = 0;
  char** argv = nullptr;
  ASSERT_TRUE(g_shell_parse_argv("\"/opt/My Apps/pilvo\"", &argc, &argv, nullptr));
  EXPECT_STREQ(argv[0], "/opt/My Apps/pilvo");
  g_strfreev(argv);
}

TEST(AutostartEntryTest, EnablingReplacesACopyTheUserSwitchedOffAndDisablingRemovesIt) {
  TempDir config;
  AutostartEntry entry(config.path(), kInstalled, "/usr/bin/pilvo");
  for (const char* disabled : {"Hidden=true\n", "X-GNOME-Autostart-enabled=false\n"}) {
    g_mkdir_with_parents((config.path() + "/autostart").c_str(), 0755);
    writeFile(entry.path(),
              std::string("[Desktop Entry]\nType=Application\nExec=old\n") + disabled);
    ASSERT_EQ(entry.enable(), "");
    const std::string text = readFile(entry.path());
    EXPECT_EQ(text, entry.contents());
    EXPECT_EQ(text.find("Hidden"), std::string::npos);
    EXPECT_EQ(text.find("Autostart-enabled"), std::string::npos);
    EXPECT_NE(text.find("Exec=/usr/bin/pilvo\n"), std::string::npos);
    // Only the entry: no temporary file left beside it.
    EXPECT_EQ(filesIn(config.path() + "/autostart"),
              std::vector<std::string>{"com.pilvo.Pilvo.desktop"});
  }
  EXPECT_EQ(entry.disable(), "");
  EXPECT_EQ(fileMode(entry.path()), -1);
  EXPECT_EQ(entry.disable(), "");  // nothing registered: still fine

  TempDir fresh;
  EXPECT_EQ(AutostartEntry(fresh.path() + "/no/config/yet", kInstalled, "pilvo").disable(), "");
}

TEST(AutostartEntryTest, FailuresSayWhatTheSystemSaidAndLeaveNothingBehind) {
  TempDir config;
  AutostartEntry entry(config.path(), kInstalled, "/usr/bin/pilvo");

  // The entry's path is a directory.
  ASSERT_EQ(g_mkdir_with_parents(entry.path().c_str(), 0755), 0);
  std::string error = entry.enable();
  EXPECT_NE(error.find(g_strerror(EISDIR)), std::string::npos) << error;
  error = entry.disable();
  EXPECT_NE(error.find(g_strerror(EISDIR)), std::string::npos) << error;
  EXPECT_EQ(filesIn(config.path() + "/autostart"),
            std::vector<std::string>{"com.pilvo.Pilvo.desktop"});

  // The autostart directory is blocked by a file of that name.
  TempDir blocked;
  writeFile(blocked.file("autostart"), "not a directory");
  error = AutostartEntry(blocked.path(), kInstalled, "pilvo").enable();
  EXPECT_NE(error.find(g_strerror(ENOTDIR)), std::string::npos) << error;
  EXPECT_EQ(AutostartEntry(blocked.path(), kInstalled, "pilvo").disable(), "");
  EXPECT_EQ(readFile(blocked.file("autostart")), "not a directory");
}

// A read-only autostart directory stops only an ordinary user, so when the
// test runs as root the attempt runs in a child that has become "nobody".
TEST(AutostartEntryTest, AReadOnlyAutostartDirectoryIsAFailureNotASilentSuccess) {
  TempDir config;
  const std::string dir = config.path() + "/autostart";
  ASSERT_EQ(g_mkdir_with_parents(dir.c_str(), 0755), 0);
  AutostartEntry entry(config.path(), kInstalled, "/usr/bin/pilvo");
  ASSERT_EQ(entry.enable(), "");
  chmod(config.path().c_str(), 0755);
  chmod(dir.c_str(), 0555);

  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(2);
    }
    const std::string answers = entry.enable() + "\n" + entry.disable() + "\n";
    if (write(pipeFds[1], answers.data(), answers.size()) < 0) _exit(3);
    _exit(0);
  }
  close(pipeFds[1]);
  std::string answers;
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) answers.append(buffer, n);
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  chmod(dir.c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  const std::string denied = g_strerror(EACCES);
  const size_t newline = answers.find('\n');
  EXPECT_NE(answers.substr(0, newline).find(denied), std::string::npos) << answers;
  EXPECT_NE(answers.substr(newline + 1).find(denied), std::string::npos) << answers;
  EXPECT_EQ(filesIn(dir), std::vector<std::string>{"com.pilvo.Pilvo.desktop"});
  EXPECT_EQ(readFile(entry.path()), entry.contents());
}

}  // namespace
}  // namespace pilvo::settings
