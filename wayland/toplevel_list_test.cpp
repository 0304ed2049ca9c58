#include "wayland/toplevel_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "testing/temp_dir.h"
#include "wayland/wayland_accessibility.h"
#include "wayland/wayland_workspace.h"

namespace pilvo::wayland {
namespace {

// Records what the workspace reports, as the monitor would see it.
class RecordingObserver final : public WorkspaceObserver {
 public:
  void appDidActivate(const RunningApp& app) override {
    events.push_back("activate " + app.bundleId.value_or("?"));
  }
  void appDidTerminate(const RunningApp& app) override {
    events.push_back("terminate " + app.bundleId.value_or("?"));
  }
  std::vector<std::string> events;
};

class ToplevelListTest : public ::testing::Test {
 protected:
  ToplevelListTest() {
    mkdir((dir_.path() + "/applications").c_str(), 0700);
    pilvo::testing::writeFile(dir_.file("applications/org.example.Editor.desktop"),
                              "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor\n"
                              "StartupWMClass=EditorX\n");
    pilvo::testing::writeFile(dir_.file("applications/foot.desktop"),
                              "[Desktop Entry]\nType=Application\nName=Foot\nExec=foot\n");
    index_ = std::make_unique<DesktopEntryIndex>(std::vector<std::string>{dir_.path()}, "C");
    list_ = std::make_unique<ToplevelList>(*index_);
  }

  // A toplevel as the compositor announces it: events, then done.
  ToplevelId open(const std::string& appId, const std::string& title, bool activated = false) {
    const ToplevelId id = list_->opened();
    list_->setTitle(id, title);
    list_->setAppId(id, appId);
    list_->setActivated(id, activated);
    list_->done(id);
    return id;
  }
  // sway deactivates the old toplevel first, then activates the new one.
  void focus(ToplevelId from, ToplevelId to) {
    if (from) {
      list_->setActivated(from, false);
      list_->done(from);
    }
    list_->setActivated(to, true);
    list_->done(to);
  }

  pilvo::testing::TempDir dir_;
  std::unique_ptr<DesktopEntryIndex> index_;
  std::unique_ptr<ToplevelList> list_;
};

TEST_F(ToplevelListTest, AppIdsAreNamedLikeWindowClasses) {
  struct Case {
    std::string appId;
    std::optional<std::string> bundleId;
    std::optional<std::string> name;
  } cases[] = {
      {"foot", "foot", "Foot"},                          // desktop-file ID
      {"FOOT", "foot", "Foot"},                          // ID ignoring case
      {"EditorX", "org.example.Editor", "Editor"},       // XWayland class
      {"unknown-tool", "unknown-tool", "unknown-tool"},  // no entry
      {"", std::nullopt, std::nullopt},                  // nothing to name it by
      {"bad\nid",
       "bad\xEF\xBF\xBD"
       "id",
       "bad\nid"},  // no control characters
  };
  for (const Case& c : cases) {
    const ToplevelId id = open(c.appId, "t");
    const std::optional<RunningApp> app = list_->applicationOf(id);
    ASSERT_TRUE(app) << c.appId;
    EXPECT_EQ(app->bundleId, c.bundleId) << c.appId;
    EXPECT_EQ(app->localizedName, c.name) << c.appId;
    EXPECT_EQ(app->pid, 0);
  }
}

TEST_F(ToplevelListTest, ChangesApplyOnDoneAndToplevelsWithoutDoneDoNotExist) {
  std::vector<std::string> titles;
  auto listener = list_->addListener(
      ToplevelList::Listener{.titleChanged = [&](ToplevelId id, const RunningApp&) {
        titles.push_back(list_->titleOf(id).value_or("<none>"));
      }});
  const ToplevelId half = list_->opened();
  list_->setAppId(half, "foot");
  list_->setActivated(half, true);
  EXPECT_TRUE(list_->runningApplications().empty());
  EXPECT_FALSE(list_->frontmostApplication());

  const ToplevelId id = open("foot", "one");
  list_->setTitle(id, "two");
  EXPECT_EQ(list_->titleOf(id), "one");
  list_->setTitle(id, "three");
  list_->done(id);
  list_->done(id);  // done without a change reports nothing
  list_->setTitle(id, "three");
  list_->done(id);  // nor does the same title again
  EXPECT_EQ(titles, std::vector<std::string>{"three"});
  EXPECT_EQ(list_->titleOf(id), "three");
  EXPECT_EQ(list_->titleOf(half), std::nullopt);
}

TEST_F(ToplevelListTest, WorkspaceReportsSwitchesBetweenApplicationsAndTheirEnd) {
  WaylandWorkspace workspace(*list_);
  RecordingObserver observer;
  workspace.setObserver(&observer);

  const ToplevelId term1 = open("foot", "shell 1", true);
  const ToplevelId term2 = open("foot", "shell 2");
  const ToplevelId editor = open("EditorX", "notes");
  focus(term1, term2);   // same application: no activation
  focus(term2, editor);  // another one
  focus(editor, term1);
  list_->setActivated(term1, false);  // the keyboard goes to a layer surface
  list_->done(term1);
  EXPECT_FALSE(workspace.frontmostApplication());
  focus(0, term1);  // back to the same application: not a new activation
  list_->closed(term2);
  list_->closed(editor);
  list_->closed(term1);

  EXPECT_EQ(observer.events, (std::vector<std::string>{
                                 "activate foot", "activate org.example.Editor", "activate foot",
                                 "terminate org.example.Editor", "terminate foot"}));
}

TEST_F(ToplevelListTest, RunningApplicationsAreListedOnceInOrderOfAppearance) {
  const ToplevelId term1 = open("foot", "a", true);
  const ToplevelId editor = open("EditorX", "b");
  const ToplevelId term2 = open("foot", "c");
  focus(term1, term2);
  const std::vector<RunningApp> apps = list_->runningApplications();
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[0].bundleId, "foot");
  EXPECT_EQ(apps[0].window, term2);  // the application's most recently active toplevel
  EXPECT_EQ(apps[1].bundleId, "org.example.Editor");
  EXPECT_EQ(apps[1].window, editor);
  EXPECT_EQ(list_->frontmostApplication()->window, term2);
  EXPECT_EQ(list_->toplevelsOf(apps[0]), (std::vector<ToplevelId>{term2, term1}));
}

TEST_F(ToplevelListTest, ObserverFollowsTitlesAndFocusMovesOfItsApplicationOnly) {
  WaylandAccessibility accessibility(*list_);
  const ToplevelId term1 = open("foot", "shell 1", true);
  const ToplevelId term2 = open("foot", "shell 2");
  const ToplevelId editor = open("EditorX", "notes");
  EXPECT_FALSE(accessibility.createObserver(RunningApp{.bundleId = "gone"}, {}));

  std::vector<std::pair<ElementRef, std::string>> seen;
  auto observer = accessibility.createObserver(
      *list_->applicationOf(term1), [&](ElementRef element, std::string_view notification) {
        seen.emplace_back(element, std::string(notification));
      });
  ASSERT_TRUE(observer);
  EXPECT_EQ(accessibility.focusedWindowTitle(*list_->applicationOf(term2)), "shell 1");

  list_->setTitle(editor, "other");
  list_->done(editor);  // another application: nothing
  list_->setTitle(term2, "vim");
  list_->done(term2);    // a background toplevel of the application
  focus(term1, term2);   // a move inside the application
  list_->closed(term2);  // focus falls back to term1 without an activation event...
  focus(0, term1);       // ...until the compositor activates it
  EXPECT_EQ(accessibility.titleOf(term1), "shell 1");
  EXPECT_EQ(accessibility.titleOf(term2), std::nullopt);

  EXPECT_EQ(seen, (std::vector<std::pair<ElementRef, std::string>>{
                      {term2, std::string(kTitleChanged)},
                      {term2, std::string(kFocusedWindowChanged)},
                      {term1, std::string(kFocusedWindowChanged)}}));
  observer.reset();
  EXPECT_EQ(accessibility.liveObserverCount(), 0u);
  list_->setTitle(term1, "after");
  list_->done(term1);
  EXPECT_EQ(seen.size(), 3u);
}

}  // namespace
}  // namespace pilvo::wayland
