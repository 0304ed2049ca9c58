#include "identity/app_identity.h"

#include <gio/gdesktopappinfo.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace pilvo {
namespace {

namespace fs = std::filesystem;

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
  ASSERT_NE(idx.findById("org.example.Editor"), nullptr);
  EXPECT_EQ(idx.findById("org.example.Editor")->name, "Editor");
  EXPECT_EQ(idx.findById("masked"), nullptr) << "Hidden=true in a higher directory hides it";
  EXPECT_EQ(idx.findByStartupWmClass("Masked"), nullptr);
  ASSERT_NE(idx.findById("vendor-sub"), nullptr);
  EXPECT_EQ(idx.findById("link"), nullptr) << "only applications";
  ASSERT_NE(idx.findById("tray-helper"), nullptr);
  EXPECT_TRUE(idx.findById("tray-helper")->noDisplay);
  EXPECT_EQ(idx.findByIdIgnoringCase("ORG.EXAMPLE.editor")->id, "org.example.Editor");
  EXPECT_EQ(index("de").findById("org.example.Editor")->name, "Bearbeiter");
  EXPECT_EQ(idx.size(), 6u);
}

TEST_F(DesktopEntriesTest, ResolvesInTheDocumentedOrder) {
  const DesktopEntryIndex idx = index();
  struct Case {
    const char* what;
    WindowFacts facts;
    AppIdentity expected;
  };
  const Case cases[] = {
      {"GTK application id beats everything",
       {"xterm", "XTerm", "org.example.Editor", "term.desktop"},
       {"org.example.Editor", "Editor"}},
      {"stated id without an installed entry is still the id",
       {"x", "Xapp", "org.example.NotInstalled", std::nullopt},
       {"org.example.NotInstalled", "Xapp"}},
      {"KDE desktop file, as a path with suffix",
       {"x", "Xapp", std::nullopt, "/usr/share/applications/term.desktop"},
       {"term", "Terminal"}},
      {"StartupWMClass matches the instance before the class",
       {"xterm", "BrowserClass", std::nullopt, std::nullopt},
       {"term", "Terminal"}},
      {"StartupWMClass matches the class",
       {"navigator", "BrowserClass", std::nullopt, std::nullopt},
       {"Browser", "Browser"}},
      {"StartupWMClass beats an ID match on the instance",
       {"browser", "Tray", std::nullopt, std::nullopt},
       {"tray-helper", "Tray Helper"}},
      {"ID equals the instance ignoring case",
       {"ORG.EXAMPLE.EDITOR", "Whatever", std::nullopt, std::nullopt},
       {"org.example.Editor", "Editor"}},
      {"entry without Name is named by the class",
       {"n", "Nameless", std::nullopt, std::nullopt},
       {"nameless", "Nameless"}},
      {"nothing installed: the class as given",
       {"gimp-2.10", "Gimp-2.10", std::nullopt, std::nullopt},
       {"Gimp-2.10", "Gimp-2.10"}},
      {"empty values name nothing", {"", "", "", ""}, {std::nullopt, std::nullopt}},
      {"no facts at all", {}, {std::nullopt, std::nullopt}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(resolveAppIdentity(c.facts, idx), c.expected) << c.what;
  }
}

TEST_F(DesktopEntriesTest, InvalidUtf8InWindowFactsBecomesReplacementCharacters) {
  const DesktopEntryIndex idx = index();
  const AppIdentity fromClass = resolveAppIdentity(
      {"inst\xff", std::string("Cl\xc3\0ass", 7), std::nullopt, std::nullopt}, idx);
  EXPECT_EQ(fromClass.bundleId, std::string("Cl\xEF\xBF\xBD\0ass", 9));
  const AppIdentity fromGtk =
      resolveAppIdentity({std::nullopt, std::nullopt, "org.\xfe\xfe", std::nullopt}, idx);
  EXPECT_EQ(fromGtk.bundleId, "org.\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_TRUE(g_utf8_validate(fromGtk.bundleId->data(), -1, nullptr));
}

TEST_F(DesktopEntriesTest, AppInfoForLaunchingIsFoundByIdentifier) {
  const DesktopEntryIndex idx = index();
  GDesktopAppInfo* info = idx.newAppInfo("org.example.Editor");
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(g_app_info_get_name(G_APP_INFO(info)), "Editor");
  g_object_unref(info);
  EXPECT_EQ(idx.newAppInfo("org.example.Missing"), nullptr);
}

}  // namespace
}  // namespace pilvo
