#include "identity/desktop_entry_watcher.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

namespace pilvo {

DesktopEntryWatcher::DesktopEntryWatcher(DesktopEntryIndex& index, EventLoop& loop)
    : index_(index), loop_(loop), monitor_(g_app_info_monitor_get()) {
  handler_ = g_signal_connect(monitor_, "changed", G_CALLBACK(onChanged), this);
  // GIO watches the directories only once it has been asked about them,
  // and reports one change until it is asked again.
  rearm();
}

DesktopEntryWatcher::~DesktopEntryWatcher() {
  g_signal_handler_disconnect(monitor_, handler_);
  g_object_unref(monitor_);
}

void DesktopEntryWatcher::rearm() {
  // Any lookup re-arms the monitor; one by ID reads directory listings only,
  // where listing every application would parse every entry again (the index
  // has just read them all).
  if (GDesktopAppInfo* info = g_desktop_app_info_new("com.pilvo.Pilvo.desktop"))
    g_object_unref(info);
}

void DesktopEntryWatcher::onChanged(GAppInfoMonitor*, void* self) {
  auto* watcher = static_cast<DesktopEntryWatcher*>(self);
  if (watcher->pending_) return;
  watcher->pending_ =
      watcher->loop_.addTimer(kSettleSeconds, false, [watcher] { watcher->reload(); });
}

void DesktopEntryWatcher::reload() {
  // Re-arm first: a change while the directories are read is reported again.
  rearm();
  index_.reload();
  pending_.reset();  // this timer's own handle; destroying it here is allowed
}

}  // namespace pilvo
