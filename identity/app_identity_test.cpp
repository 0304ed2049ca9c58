#include "identity/app_identity.h"

#include <gio/gdesktopappinfo.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace pilvo {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Two XDG data directories in a temporary folder: "home" (first, wins) and "system".
class DesktopEntriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gchar* dir = g_dir_make_tmp("pilvo-identity-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    root_ = dir;
    g_free(dir);
    entry("home", "org.example.Editor", "Name=Editor\nName[de]=Bearbeiter\n");
    entry("system", "org.example.Editor", "Name=Old Editor\n");
    entry("home", "masked", "Name=Masked\nHidden=true\n");
    entry("system", "masked", "Name=Masked\nStartupWMClass=Masked\n");
    entry("system", "vendor/sub", "Name=Vendor Tool\n");
    entry("system", "term", "Name=Terminal\nStartupWMClass=xterm\n");
    entry("system", "Browser", "Name=Browser\nStartupWMClass=BrowserClass\n");
    entry("system", "tray-helper", "Name=Tray Helper\nNoDisplay=true\nStartupWMClass=Tray\n");
    entry("system", "nameless", "StartupWMClass=Nameless\n");
    write("system/applications/notes.txt", "not an entry");
    write("system/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=L\nURL=x\n");
  }
  void TearDown() override { fs::remove_all(root_); }

  void entry(const std::string& dir, const std::string& id, const std::string& keys) {
    write(dir + "/applications/" + id + ".desktop",
          "[Desktop Entry]\nType=Application\nExec=true\n" + keys);
  }
  void write(const std::string& relative, const std::string& text) {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  DesktopEntryIndex index(const char* locale = "C") const {
    return DesktopEntryIndex(
        {(root_ / "home").string(), (root_ / "absent").string(), (root_ / "system").string()},
        locale);
  }

  fs::path root_;
};

TEST_F(DesktopEntriesTest, IndexFollowsXdgPrecedenceAndKeepsNoDisplayEntries) {
  const DesktopEntryIndex idx = index();
  // Not "masked" (Hidden=true in a higher directory hides it) nor "link" (only applications).
  EXPECT_EQ(idx.size(), 6u);
  EXPECT_EQ(idx.findById("link"), nullptr);
  ASSERT_NE(idx.findById("tray-helper"), nullptr);
  EXPECT_TRUE(idx.findById("tray-helper")->noDisplay);
  EXPECT_EQ(index("de").findById("org.example.Editor")->name, "Bearbeiter");

  // The entry to launch, found by identifier.
  GDesktopAppInfo* info = idx.newAppInfo("org.example.Editor");
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(g_app_info_get_name(G_APP_INFO(info)), "Editor");
  g_object_unref(info);
  EXPECT_EQ(idx.newAppInfo("org.example.Missing"), nullptr);
}

TEST_F(DesktopEntriesTest, ResolvesInTheDocumentedOrder) {
  const DesktopEntryIndex idx = index();
  const auto none = std::nullopt;
  const std::string bad = "Cl\xEF\xBF\xBD\0ass"s;  // "Cl\xc3\0ass": invalid UTF-8, NUL kept
  const std::string badId = "Cl\xEF\xBF\xBD\xEF\xBF\xBD" "ass";  // no control character in an ID
  // Facts: WM_CLASS instance and class, GTK application id, KDE desktop file.
  const std::pair<WindowFacts, AppIdentity> cases[] = {
      // Stated ids win, even with no entry installed; a KDE desktop file may be a path.
      // The first data directory wins ("Old Editor" is further down).
      {{"xterm", "XTerm", "org.example.Editor", "term.desktop"}, {"org.example.Editor", "Editor"}},
      {{"x", "Xapp", "org.example.NotInstalled", none}, {"org.example.NotInstalled", "Xapp"}},
      {{"x", "Xapp", none, "/usr/share/applications/term.desktop"}, {"term", "Terminal"}},
      {{none, none, "org.\xfe", none}, {"org.\xEF\xBF\xBD", none}},
      // StartupWMClass: the instance before the class, before any ID match.
      {{"xterm", "BrowserClass", none, none}, {"term", "Terminal"}},
      {{"navigator", "BrowserClass", none, none}, {"Browser", "Browser"}},
      {{"browser", "Tray", none, none}, {"tray-helper", "Tray Helper"}},
      // An ID equal to the instance ignoring case; IDs of sub-folders joined by "-".
      {{"ORG.EXAMPLE.EDITOR", "Whatever", none, none}, {"org.example.Editor", "Editor"}},
      {{"vendor-sub", "V", none, none}, {"vendor-sub", "Vendor Tool"}},
      // A hidden entry names nothing, by StartupWMClass or by ID.
      {{"masked", "Masked", none, none}, {"Masked", "Masked"}},
      // An entry without Name is named by the class; nothing installed: the class.
      {{"n", "Nameless", none, none}, {"nameless", "Nameless"}},
      {{"gimp-2.10", "Gimp-2.10", none, none}, {"Gimp-2.10", "Gimp-2.10"}},
      {{"inst\xff", "Cl\xc3\0ass"s, none, none}, {badId, bad}},
      // A forged line break, tab, DEL, C1 or line separator never reaches an identifier.
      {{"i", "Evil\nClass", none, none}, {"Evil\xEF\xBF\xBD" "Class", "Evil\nClass"}},
      {{none, none, "org.a\tb\x7f\xc2\x85\xe2\x80\xa8z", none},
       {"org.a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "z", none}},
      // Empty values name nothing.
      {{"", "", "", ""}, {none, none}},
      {{}, {none, none}},
  };
  for (const auto& [facts, expected] : cases) {
    EXPECT_EQ(resolveAppIdentity(facts, idx), expected)
        << facts.wmClassInstance.value_or("-") << " / " << facts.wmClassClass.value_or("-");
  }
}

}  // namespace
}  // namespace pilvo
