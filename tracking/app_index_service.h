// Builds the installed-application index off the main loop and answers on it.
//
// A call runs in three steps: a worker gathers the candidates (the system's
// application database, then the folder scan for what it did not report),
// filters them and notes the icons still missing; the main loop resolves theme
// icon names a few at a time (the icon theme is the toolkit's, main-thread
// only); a worker renders the missing icons; the main loop answers. Calls are
// independent of each other; nothing is kept between them but the icon files.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include "common/background_runner.h"
#include "common/event_loop.h"
#include "tracking/app_index.h"
#include "tracking/app_index_platform.h"

namespace pilvo::tracking {

// Written once per call when the system's application database yields nothing
// usable and the folder scan alone provides the candidates.
inline constexpr const char* kSystemSourceFailedLine =
    "Tavik: mdfind failed, falling back to directory scan";
inline constexpr const char* kAppIconDirectoryName = "app_icons";
// Theme lookups per main-loop turn: each costs the toolkit 10 to 30
// microseconds once its theme is loaded, so a turn stays around a millisecond.
inline constexpr size_t kThemeLookupsPerTurn = 32;

class AppIndexService {
 public:
  using Done = std::function<void(std::vector<IndexedApp> apps)>;
  using Log = std::function<void(std::string_view line)>;

  // `platform` and `loop` must outlive the service. Without a runner, each
  // call gets its own thread. Destroying the service stops the workers at
  // their next entry, waits for them, and drops the answers still owed.
  AppIndexService(AppIndexPlatform& platform, EventLoop& loop, Log log,
                  std::unique_ptr<BackgroundRunner> runner = nullptr);
  ~AppIndexService();
  AppIndexService(const AppIndexService&) = delete;
  AppIndexService& operator=(const AppIndexService&) = delete;

  // Answers `done` exactly once, on the loop, with the applications in
  // source order; icon files missing for them are written first.
  void indexAllApps(Done done);

 private:
  struct Job;
  void collect(const std::shared_ptr<Job>& job);
  void lookupThemeIcons(const std::shared_ptr<Job>& job);
  void renderIcons(const std::shared_ptr<Job>& job);

  AppIndexPlatform& platform_;
  EventLoop& loop_;
  Log log_;
  // Calls not yet answered (main thread only).
  std::set<std::shared_ptr<Job>> jobs_;
  std::atomic<bool> stopping_{false};
  // Last, so its threads end before anything they use goes away.
  std::unique_ptr<BackgroundRunner> runner_;
};

}  // namespace pilvo::tracking
