#include "tracking/gio_app_index_platform.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "testing/temp_dir.h"

namespace pilvo::tracking {
namespace {

using testing::writeFile;

// GLib reads the XDG directories once per process, so GIO meets the fixture
// in a child started with its environment set.
std::vector<std::string> inChild(const std::string& dataHome, const std::string& dataDirs,
                                 std::vector<std::string> (*query)()) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    setenv("XDG_DATA_DIRS", dataDirs.c_str(), 1);
    std::string out;
    for (const std::string& line : query()) out += line + "\n";
    const ssize_t written = write(fds[1], out.data(), out.size());
    _exit(written == static_cast<ssize_t>(out.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<std::string> lines;
  gchar** parts = g_strsplit(text.c_str(), "\n", -1);
  for (gchar** part = parts; *part; ++part) {
    if (**part) lines.emplace_back(*part);
  }
  g_strfreev(parts);
  return lines;
}

TEST(GioAppIndexPlatformTest, ReportsTheSystemDatabaseOncePerIdWithItsPathAndTheDirectories) {
  testing::TempDir dir;
  for (const char* sub : {"user/applications", "sys/applications/kde4"}) {
    g_mkdir_with_parents(dir.file(sub).c_str(), 0755);
  }
  const std::string app = "[Desktop Entry]\nType=Application\nExec=true\nName=x\n";
  writeFile(dir.file("user/applications/org.example.Shadowed.desktop"), app);
  writeFile(dir.file("sys/applications/org.example.Shadowed.desktop"), app);
  writeFile(dir.file("user/applications/org.example.HiddenByUser.desktop"),
            "[Desktop Entry]\nType=Application\nHidden=true\n");
  writeFile(dir.file("sys/applications/org.example.HiddenByUser.desktop"), app);
  writeFile(dir.file("sys/applications/kde4/kate.desktop"), app);
  writeFile(dir.file("sys/applications/off-menu.desktop"), app + "NoDisplay=true\n");
  writeFile(dir.file("sys/applications/not-installed.desktop"), app + "TryExec=/nonexistent\n");

  std::vector<std::string> reported = inChild(dir.file("user"), dir.file("sys"), [] {
    GioAppIndexPlatform platform("com.pilvo.Pilvo", {});
    std::vector<std::string> lines;
    for (const AppCandidate& c : platform.systemApplications()) {
      lines.push_back(c.id + " " + c.path);
    }
    for (const std::string& d : platform.dataDirectories()) lines.push_back("dir " + d);
    lines.push_back("icons " + platform.iconDirectory());
    return lines;
  });
  std::sort(reported.begin(), reported.end());
  // GIO's own order is that of a hash table; what it holds is compared here.
  // NoDisplay entries are reported (the index filters them).
  const std::vector<std::string> expected = {
      "dir " + dir.file("sys"),
      "dir " + dir.file("user"),
      "icons " + dir.file("user/app_icons"),
      "kde4-kate " + dir.file("sys/applications/kde4/kate.desktop"),
      "off-menu " + dir.file("sys/applications/off-menu.desktop"),
      "org.example.Shadowed " + dir.file("user/applications/org.example.Shadowed.desktop"),
  };
  EXPECT_EQ(reported, expected);
}

}  // namespace
}  // namespace pilvo::tracking
