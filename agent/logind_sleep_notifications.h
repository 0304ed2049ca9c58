// SleepNotifications from logind on the system bus: the PrepareForSleep signal
// of org.freedesktop.login1.Manager. While waiting for a sleep it holds a
// "delay" inhibitor lock, so the handler runs (and its row is written) before
// the machine sleeps rather than after it wakes; the lock is given back once
// the handler has run and taken again after the wake.
#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>

#include "agent/sleep_notifications.h"

namespace pilvo::agent {

class LogindSleepNotifications final : public SleepNotifications {
 public:
  // Connects to the system bus ($DBUS_SYSTEM_BUS_ADDRESS, else the standard
  // socket). nullptr with `error` set when there is no bus; without logind on
  // the bus no sleep is ever reported.
  static std::unique_ptr<LogindSleepNotifications> connect(std::string* error);
  ~LogindSleepNotifications() override;
  LogindSleepNotifications(const LogindSleepNotifications&) = delete;
  LogindSleepNotifications& operator=(const LogindSleepNotifications&) = delete;

  void setHandler(std::function<void(bool sleeping)> handler) override;

  bool holdsDelayLock() const { return inhibitFd_ >= 0; }

 private:
  explicit LogindSleepNotifications(GDBusConnection* connection);
  static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant* parameters, gpointer self);
  static void onInhibitReply(GObject* source, GAsyncResult* result, gpointer self);
  void takeDelayLock();
  void releaseDelayLock();

  GDBusConnection* connection_;
  guint subscription_ = 0;
  GCancellable* cancellable_;
  std::function<void(bool)> handler_;
  int inhibitFd_ = -1;
  bool inhibitPending_ = false;
  bool asleep_ = false;  // between PrepareForSleep(true) and (false)
};

}  // namespace pilvo::agent
