#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <set>
#include <tuple>

#include "testing/fake_app_index_platform.h"
#include "testing/fake_event_loop.h"
#include "testing/inline_runner.h"
#include "testing/temp_dir.h"
#include "tracking/app_icon_writer.h"
#include "tracking/app_index_service.h"

namespace pilvo::tracking {
namespace {

using testing::readFile;
using testing::writeFile;

std::string entry(const std::string& keys) {
  return "[Desktop Entry]\nType=Application\nExec=true\n" + keys + "\n";
}

void makeDirs(const std::string& path) { g_mkdir_with_parents(path.c_str(), 0755); }

void writePng(const std::string& path, int width, int height) {
  GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
  gdk_pixbuf_fill(image, 0x3366ccff);
  ASSERT_TRUE(gdk_pixbuf_save(image, path.c_str(), "png", nullptr, nullptr));
  g_object_unref(image);
}

// A red rectangle twice as wide as high: rendered 32 x 16, centred vertically.
void writeWideSvg(const std::string& path) {
  writeFile(path, R"(<svg xmlns="http://www.w3.org/2000/svg" width="64" height="32">)"
                  R"(<rect width="64" height="32" fill="#ff0000"/></svg>)");
}

struct Decoded {
  int width = 0, height = 0, channels = 0;
  bool alpha = false;
  int alphaAt(int x, int y) const {
    return static_cast<unsigned char>(pixels[y * stride + x * channels + 3]);
  }
  std::string pixels;
  int stride = 0;
};

std::optional<Decoded> decodePng(const std::string& path) {
  GdkPixbuf* image = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
  if (!image) return std::nullopt;
  Decoded d{gdk_pixbuf_get_width(image), gdk_pixbuf_get_height(image),
            gdk_pixbuf_get_n_channels(image), gdk_pixbuf_get_has_alpha(image) != FALSE};
  d.stride = gdk_pixbuf_get_rowstride(image);
  d.pixels.assign(reinterpret_cast<const char*>(gdk_pixbuf_read_pixels(image)),
                  gdk_pixbuf_get_byte_length(image));
  g_object_unref(image);
  return d;
}

std::set<std::string> filesIn(const std::string& dir) {
  std::set<std::string> names;
  if (GDir* handle = g_dir_open(dir.c_str(), 0, nullptr)) {
    while (const gchar* name = g_dir_read_name(handle)) names.insert(name);
    g_dir_close(handle);
  }
  return names;
}

class AppIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"user/applications", "sys1/applications", "sys2/applications/kde4",
                            "theme", "pictures"}) {
      makeDirs(dir_.file(dir));
    }
    platform_.dataDirs = {dir_.file("user"), dir_.file("sys1"), dir_.file("missing"),
                          dir_.file("sys2")};
    platform_.desktops = {"XFCE", "GNOME-Flashback"};
    platform_.iconDir = dir_.file("user/app_icons");
    platform_.themeDir = dir_.file("theme");
  }

  void app(const std::string& relative, const std::string& contents) {
    writeFile(dir_.file(relative), contents);
  }

  // One call, driven to its answer; also proves nothing touches the theme or
  // answers before the loop runs.
  std::vector<IndexedApp> index() {
    std::vector<std::vector<IndexedApp>> answers;
    const int lookupsBefore = platform_.themeLookups;
    service_.indexAllApps(
        [&](std::vector<IndexedApp> apps) { answers.push_back(std::move(apps)); });
    EXPECT_EQ(platform_.themeLookups, lookupsBefore) << "theme looked up off the loop";
    EXPECT_TRUE(answers.empty()) << "answered before the loop ran";
    loop_.runUntilIdle();
    EXPECT_EQ(answers.size(), 1u);
    return answers.empty() ? std::vector<IndexedApp>{} : answers[0];
  }

  testing::TempDir dir_;
  testing::FakeEventLoop loop_;
  testing::FakeAppIndexPlatform platform_;
  std::vector<std::string> logLines_;
  AppIndexService service_{platform_, loop_,
                           [this](std::string_view line) { logLines_.emplace_back(line); },
                           std::make_unique<testing::InlineRunner>()};
};

TEST_F(AppIndexTest, AnswersTheMenuEntriesInSourceOrderAfterTheFilters) {
  // Shadowing: the first data directory holding an ID decides, whatever it says.
  app("user/applications/org.example.Shadowed.desktop", entry("Name=User copy"));
  app("sys1/applications/org.example.Shadowed.desktop", entry("Name=System copy"));
  app("user/applications/org.example.HiddenByUser.desktop", entry("Hidden=true"));
  app("sys1/applications/org.example.HiddenByUser.desktop", entry("Name=Hidden by user"));
  app("user/applications/org.example.NoDisplayByUser.desktop", entry("NoDisplay=true"));
  app("sys2/applications/org.example.NoDisplayByUser.desktop", entry("Name=Off the menu"));
  // Filters.
  app("sys1/applications/nodisplay.desktop", entry("Name=x\nNoDisplay=true"));
  app("sys1/applications/hidden.desktop", entry("Name=x\nHidden=true"));
  app("sys1/applications/gnome-only.desktop", entry("Name=x\nOnlyShowIn=GNOME;"));
  app("sys1/applications/xfce-only.desktop", entry("Name=Xfce only\nOnlyShowIn=KDE;XFCE;"));
  app("sys1/applications/not-in-xfce.desktop", entry("Name=x\nNotShowIn=XFCE;"));
  app("sys1/applications/not-in-kde.desktop", entry("Name=Not in KDE\nNotShowIn=KDE;"));
  app("sys1/applications/weblink.desktop", "[Desktop Entry]\nType=Link\nName=x\nURL=about:\n");
  app("sys1/applications/broken.desktop", "this is not a key file\n\x01\x02");
  app("sys1/applications/nogroup.desktop", "[Something Else]\nType=Application\nName=x\n");
  app("sys1/applications/com.pilvo.Pilvo.desktop", entry("Name=Pilvo"));
  app("sys1/applications/tryexec-missing.desktop", entry("Name=x\nTryExec=/nonexistent/prog"));
  app("sys1/applications/exec-missing.desktop",
      "[Desktop Entry]\nType=Application\nName=x\nExec=no-such-program-here %U\n");
  app("sys1/applications/exec-unparsable.desktop",
      "[Desktop Entry]\nType=Application\nName=x\nExec=\"unterminated\n");
  app("sys1/applications/dbus-started.desktop",
      "[Desktop Entry]\nType=Application\nName=Over D-Bus\nDBusActivatable=true\n");
  app("sys1/applications/readme.txt", entry("Name=not a desktop file"));
  // Names: sub-folder IDs, no Name, an empty Name.
  app("sys2/applications/kde4/kate.desktop", entry("Name=Kate"));
  app("sys2/applications/noname.desktop", entry(""));
  app("sys2/applications/org.example.Gio.desktop", entry("Name=Gio app"));
  // The system database reports these first, in its own order; the scan
  // adds only what it left out.
  platform_.system = {
      {"org.example.Gio", dir_.file("sys2/applications/org.example.Gio.desktop")},
      {"org.example.Shadowed", dir_.file("user/applications/org.example.Shadowed.desktop")},
      {"nodisplay", dir_.file("sys1/applications/nodisplay.desktop")}};

  const std::vector<IndexedApp> expected = {
      {"org.example.Gio", "Gio app", ""}, {"org.example.Shadowed", "User copy", ""},
      {"dbus-started", "Over D-Bus", ""}, {"not-in-kde", "Not in KDE", ""},
      {"xfce-only", "Xfce only", ""},     {"kde4-kate", "Kate", ""},
      {"noname", "noname", ""},
  };
  EXPECT_EQ(index(), expected);
  EXPECT_TRUE(logLines_.empty());
}

TEST_F(AppIndexTest, WithoutTheSystemDatabaseTheScanAloneAnswersAndOneLineIsLogged) {
  app("sys1/applications/org.example.B.desktop", entry("Name=B"));
  app("user/applications/org.example.A.desktop", entry("Name=A"));
  app("sys2/applications/org.example.A.desktop", entry("Name=A from the system"));
  platform_.desktops = {};

  const std::vector<IndexedApp> expected = {{"org.example.A", "A", ""}, {"org.example.B", "B", ""}};
  EXPECT_EQ(index(), expected);
  EXPECT_EQ(logLines_, std::vector<std::string>{kSystemSourceFailedLine});
}

TEST_F(AppIndexTest, WritesOne32PixelRgbaPngPerIdAndNeverRewritesOne) {
  writePng(dir_.file("theme/themed-png.png"), 48, 48);
  writeWideSvg(dir_.file("theme/themed-svg.svg"));
  writePng(dir_.file("pictures/absolute.png"), 16, 16);
  writeWideSvg(dir_.file("pictures/absolute.svg"));
  writeFile(dir_.file("pictures/broken.png"), "not a picture");
  struct Row {
    const char* id;
    std::string icon;
    bool iconWritten;
  };
  const std::vector<Row> rows = {
      {"org.example.ThemePng", "themed-png", true},
      {"org.example.ThemeSvg", "themed-svg", true},
      {"org.example.LegacyName", "themed-svg.svg", true},
      {"org.example.AbsolutePng", dir_.file("pictures/absolute.png"), true},
      {"org.example.AbsoluteSvg", dir_.file("pictures/absolute.svg"), true},
      {"org.example.NoSuchTheme", "no-such-icon", false},
      {"org.example.NoSuchFile", dir_.file("pictures/gone.png"), false},
      {"org.example.BrokenFile", dir_.file("pictures/broken.png"), false},
      {"org.example.NoIcon", "", false},
      // IDs that would name a file outside the icon directory, or no file.
      {".", dir_.file("pictures/absolute.png"), false},
      {"..", dir_.file("pictures/absolute.png"), false},
      {"evil\x1b[2J", dir_.file("pictures/absolute.png"), false},
      {"org.example.Existing", "themed-png", false},
  };
  std::set<std::string> expectedFiles;
  std::vector<std::string> expectedIds;
  for (const Row& row : rows) {
    app(std::string("sys1/applications/") + row.id + ".desktop",
        entry("Name=n" + (row.icon.empty() ? "" : "\nIcon=" + row.icon)));
    expectedIds.push_back(row.id);
    if (row.iconWritten) expectedFiles.insert(std::string(row.id) + ".png");
  }
  // An icon file already there is kept as it is, however it looks.
  makeDirs(platform_.iconDir);
  const std::string existing = platform_.iconDir + "/org.example.Existing.png";
  writeFile(existing, "made by an earlier version");
  struct stat before {};
  ASSERT_EQ(stat(existing.c_str(), &before), 0);
  expectedFiles.insert("org.example.Existing.png");

  std::vector<std::string> ids;
  for (const IndexedApp& app : index()) ids.push_back(app.id);
  std::sort(ids.begin(), ids.end());
  std::sort(expectedIds.begin(), expectedIds.end());
  EXPECT_EQ(ids, expectedIds) << "every entry is answered, with or without an icon";
  EXPECT_EQ(filesIn(platform_.iconDir), expectedFiles);
  EXPECT_EQ(filesIn(dir_.file("user")), (std::set<std::string>{"app_icons", "applications"}));
  EXPECT_EQ(filesIn(dir_.path()),
            (std::set<std::string>{"pictures", "sys1", "sys2", "theme", "user"}));

  for (const std::string& name : expectedFiles) {
    if (name == "org.example.Existing.png") continue;
    const std::optional<Decoded> icon = decodePng(platform_.iconDir + "/" + name);
    ASSERT_TRUE(icon) << name;
    EXPECT_EQ(std::tuple(icon->width, icon->height, icon->channels, icon->alpha),
              std::tuple(32, 32, 4, true))
        << name;
    EXPECT_EQ(icon->alphaAt(16, 16), 255) << name;
  }
  // The wide source keeps its aspect: transparent bands above and below.
  const std::optional<Decoded> wide = decodePng(platform_.iconDir + "/org.example.ThemeSvg.png");
  ASSERT_TRUE(wide);
  EXPECT_EQ(wide->alphaAt(16, 0), 0);
  EXPECT_EQ(wide->alphaAt(16, 7), 0);
  EXPECT_EQ(wide->alphaAt(16, 8), 255);
  EXPECT_EQ(wide->alphaAt(16, 23), 255);
  EXPECT_EQ(wide->alphaAt(16, 24), 0);

  EXPECT_EQ(readFile(existing), "made by an earlier version");
  struct stat after {};
  ASSERT_EQ(stat(existing.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

  // A second call finds the icons in place: only the theme name that found
  // nothing is looked up again, nothing is written.
  const int lookups = platform_.themeLookups;
  index();
  EXPECT_EQ(platform_.themeLookups, lookups + 1);
  EXPECT_EQ(filesIn(platform_.iconDir), expectedFiles);
}

TEST_F(AppIndexTest, ACallStillOwedWhenTheServiceGoesIsDroppedWithIt) {
  writePng(dir_.file("theme/icon.png"), 8, 8);
  app("sys1/applications/org.example.A.desktop", entry("Name=A\nIcon=icon"));
  auto service = std::make_unique<AppIndexService>(platform_, loop_, nullptr,
                                                   std::make_unique<testing::InlineRunner>());
  auto held = std::make_shared<int>(0);  // stands for the call's result
  std::weak_ptr<int> watch = held;
  bool answered = false;
  service->indexAllApps([&answered, held = std::move(held)](auto) { answered = true; });
  service.reset();  // the theme lookup is still queued on the loop
  EXPECT_TRUE(watch.expired()) << "the owed call outlived its service";
  loop_.runUntilIdle();
  EXPECT_FALSE(answered);
}

TEST(AppIconWriterTest, AFileThatAppearedMeanwhileIsNotReplaced) {
  testing::TempDir dir;
  writePng(dir.file("source.png"), 8, 8);
  writeFile(dir.file("app.png"), "written by a concurrent call");
  EXPECT_EQ(writeAppIcon(dir.file("source.png"), dir.file("app.png")),
            IconWriteResult::kAlreadyThere);
  EXPECT_EQ(readFile(dir.file("app.png")), "written by a concurrent call");
  EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"app.png", "source.png"}))
      << "the temporary file is removed";
}

TEST(AppIconNameTest, RefusesIdsThatLeadOutOfTheIconDirectory) {
  for (const char* id : {"", ".", "..", "../x", "a/b", "tab\there", "del\x7f"}) {
    EXPECT_FALSE(isSafeIconName(id)) << id;
  }
  EXPECT_FALSE(isSafeIconName(std::string_view("nul\0x", 5)));
  for (const char* id : {"kde4-kate", "org.gnome.TextEditor", "...", ".hidden", "café"}) {
    EXPECT_TRUE(isSafeIconName(id)) << id;
  }
}

}  // namespace
}  // namespace pilvo::tracking
