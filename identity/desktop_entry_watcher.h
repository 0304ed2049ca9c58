// Keeps a DesktopEntryIndex current while applications are installed and
// removed: GIO's application monitor reports a change of the application
// directories, and the index reads them again shortly after (a package
// manager writes many files in a burst; they are read once).
#pragma once

#include <memory>

#include "common/event_loop.h"
#include "identity/desktop_entry_index.h"

typedef struct _GAppInfoMonitor GAppInfoMonitor;

namespace pilvo {

class DesktopEntryWatcher {
 public:
  static constexpr double kSettleSeconds = 0.2;

  // Follows changes from the thread-default main context, which `loop` must
  // run. `index` must outlive the watcher.
  DesktopEntryWatcher(DesktopEntryIndex& index, EventLoop& loop);
  ~DesktopEntryWatcher();
  DesktopEntryWatcher(const DesktopEntryWatcher&) = delete;
  DesktopEntryWatcher& operator=(const DesktopEntryWatcher&) = delete;

 private:
  static void onChanged(GAppInfoMonitor* monitor, void* self);
  static void rearm();
  void reload();

  DesktopEntryIndex& index_;
  EventLoop& loop_;
  GAppInfoMonitor* monitor_;
  unsigned long handler_ = 0;
  std::unique_ptr<EventSource> pending_;
};

}  // namespace pilvo
