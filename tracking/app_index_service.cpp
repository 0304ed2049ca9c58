#include "tracking/app_index_service.h"

#include <glib.h>

#include <algorithm>

#include "tracking/app_icon_writer.h"

namespace pilvo::tracking {
namespace {

// Older entries name theme icons with a file extension ("Icon=foo.png"); the
// theme knows them without it, as GIO reads them.
std::string themeIconName(std::string icon) {
  for (std::string_view suffix : {".png", ".svg", ".xpm"}) {
    if (icon.size() > suffix.size() && icon.ends_with(suffix)) {
      icon.resize(icon.size() - suffix.size());
      break;
    }
  }
  return icon;
}

}  // namespace

struct AppIndexService::Job {
  struct Icon {
    std::string themeName;  // to resolve on the main loop
    std::string source;     // file to render; empty when none was found
    std::string dest;
  };
  Done done;
  std::vector<IndexedApp> apps;
  std::vector<Icon> icons;
  size_t nextLookup = 0;
};

AppIndexService::AppIndexService(AppIndexPlatform& platform, EventLoop& loop, Log log,
                                 std::unique_ptr<BackgroundRunner> runner)
    : platform_(platform),
      loop_(loop),
      log_(std::move(log)),
      runner_(runner ? std::move(runner) : std::make_unique<ThreadRunner>()) {}

AppIndexService::~AppIndexService() {
  stopping_ = true;
  runner_.reset();
  // Calls still owed are dropped here, on the main thread, while whatever
  // their callbacks hold is still there.
  jobs_.clear();
}

void AppIndexService::indexAllApps(Done done) {
  auto job = std::make_shared<Job>();
  job->done = std::move(done);
  jobs_.insert(job);
  runner_->run([this, job] { collect(job); });
}

void AppIndexService::collect(const std::shared_ptr<Job>& job) {
  std::vector<AppCandidate> candidates = platform_.systemApplications();
  if (candidates.empty()) {
    loop_.post([this, weak = std::weak_ptr(job)] {
      if (!weak.expired() && log_) log_(kSystemSourceFailedLine);
    });
  }
  std::vector<std::string> systemIds;
  systemIds.reserve(candidates.size());
  for (const AppCandidate& candidate : candidates) systemIds.push_back(candidate.id);
  for (AppCandidate& candidate : scanApplicationDirs(platform_.dataDirectories(), systemIds)) {
    candidates.push_back(std::move(candidate));
  }
  job->apps = filterCandidates(candidates, {.ownId = platform_.ownBundleIdentifier(),
                                            .currentDesktops = platform_.currentDesktops()});

  const std::string iconDir = platform_.iconDirectory();
  g_mkdir_with_parents(iconDir.c_str(), 0755);
  for (const IndexedApp& app : job->apps) {
    // The ID names the file: one that could lead elsewhere gets no icon.
    if (app.icon.empty() || !isSafeIconName(app.id)) continue;
    std::string dest = iconDir + "/" + app.id + kAppIconSuffix;
    if (g_file_test(dest.c_str(), G_FILE_TEST_EXISTS)) continue;
    if (g_path_is_absolute(app.icon.c_str())) {
      job->icons.push_back({"", app.icon, std::move(dest)});
    } else {
      job->icons.push_back({themeIconName(app.icon), "", std::move(dest)});
    }
  }
  const bool needsTheme =
      std::any_of(job->icons.begin(), job->icons.end(),
                  [](const Job::Icon& icon) { return !icon.themeName.empty(); });
  if (needsTheme) {
    // Main-loop work holds its job weakly: a job outlives only with its service.
    loop_.post([this, weak = std::weak_ptr(job)] {
      if (auto job = weak.lock()) lookupThemeIcons(job);
    });
  } else {
    renderIcons(job);
  }
}

void AppIndexService::lookupThemeIcons(const std::shared_ptr<Job>& job) {
  size_t looked = 0;
  for (; job->nextLookup < job->icons.size() && looked < kThemeLookupsPerTurn; ++job->nextLookup) {
    Job::Icon& icon = job->icons[job->nextLookup];
    if (icon.themeName.empty()) continue;
    icon.source = platform_.lookupThemeIcon(icon.themeName).value_or("");
    ++looked;
  }
  if (job->nextLookup < job->icons.size()) {
    // The rest on a later turn, so the loop serves everything else in between.
    loop_.post([this, weak = std::weak_ptr(job)] {
      if (auto job = weak.lock()) lookupThemeIcons(job);
    });
    return;
  }
  runner_->run([this, job] { renderIcons(job); });
}

void AppIndexService::renderIcons(const std::shared_ptr<Job>& job) {
  for (const Job::Icon& icon : job->icons) {
    if (stopping_) return;
    // A missing or unreadable icon leaves no file; the entry is answered anyway.
    if (!icon.source.empty()) writeAppIcon(icon.source, icon.dest);
  }
  loop_.post([this, weak = std::weak_ptr(job)] {
    std::shared_ptr<Job> job = weak.lock();
    if (!job) return;
    jobs_.erase(job);
    // The answer and what it holds end here, on the main thread; the worker
    // may drop the last reference to the job itself, which is plain data now.
    Done done = std::move(job->done);
    done(std::move(job->apps));
  });
}

}  // namespace pilvo::tracking
