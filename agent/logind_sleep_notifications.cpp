#include "agent/logind_sleep_notifications.h"

#include <gio/gunixfdlist.h>
#include <unistd.h>

#include "common/glib_error.h"

namespace pilvo::agent {
namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManagerInterface = "org.freedesktop.login1.Manager";

}  // namespace

std::unique_ptr<LogindSleepNotifications> LogindSleepNotifications::connect(std::string* error) {
  GError* gerror = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &gerror);
  if (!address) {
    *error = takeMessage(gerror);
    return nullptr;
  }
  // A connection of our own (not GIO's shared one), closed with this object.
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &gerror);
  g_free(address);
  if (!connection) {
    *error = takeMessage(gerror);
    return nullptr;
  }
  return std::unique_ptr<LogindSleepNotifications>(new LogindSleepNotifications(connection));
}

LogindSleepNotifications::LogindSleepNotifications(GDBusConnection* connection)
    : connection_(connection), cancellable_(g_cancellable_new()) {
  // Only logind's own signal: the bus delivers nothing from other senders.
  subscription_ = g_dbus_connection_signal_subscribe(
      connection_, kLogind, kManagerInterface, "PrepareForSleep", kManagerPath, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, &LogindSleepNotifications::onSignal, this, nullptr);
}

LogindSleepNotifications::~LogindSleepNotifications() {
  g_cancellable_cancel(cancellable_);
  g_object_unref(cancellable_);
  g_dbus_connection_signal_unsubscribe(connection_, subscription_);
  releaseDelayLock();
  g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  g_object_unref(connection_);
}

void LogindSleepNotifications::setHandler(std::function<void(bool sleeping)> handler) {
  handler_ = std::move(handler);
  if (handler_) {
    takeDelayLock();
  } else {
    releaseDelayLock();
  }
}

void LogindSleepNotifications::onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                        const gchar*, GVariant* parameters, gpointer data) {
  auto* self = static_cast<LogindSleepNotifications*>(data);
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
  gboolean sleeping = FALSE;
  g_variant_get(parameters, "(b)", &sleeping);
  self->asleep_ = sleeping != FALSE;
  if (self->handler_) self->handler_(sleeping != FALSE);
  if (sleeping) {
    self->releaseDelayLock();  // done: the machine may sleep now
  } else if (self->handler_) {
    self->takeDelayLock();
  }
}

void LogindSleepNotifications::takeDelayLock() {
  if (inhibitFd_ >= 0 || inhibitPending_) return;
  inhibitPending_ = true;
  g_dbus_connection_call_with_unix_fd_list(
      connection_, kLogind, kManagerPath, kManagerInterface, "Inhibit",
      g_variant_new("(ssss)", "sleep", "Pilvo", "Records the start of a sleep as idle time",
                    "delay"),
      G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, cancellable_,
      &LogindSleepNotifications::onInhibitReply, this);
}

void LogindSleepNotifications::onInhibitReply(GObject* source, GAsyncResult* result,
                                              gpointer data) {
  GUnixFDList* fds = nullptr;
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), &fds,
                                                                    result, &error);
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
    // The object is gone; `data` must not be touched.
    g_error_free(error);
    if (fds) g_object_unref(fds);
    return;
  }
  auto* self = static_cast<LogindSleepNotifications*>(data);
  self->inhibitPending_ = false;
  int fd = -1;
  if (reply) {
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    if (fds) fd = g_unix_fd_list_get(fds, index, nullptr);
    g_variant_unref(reply);
  }
  // No logind, or it refused: sleeps are still reported, maybe only on wake.
  g_clear_error(&error);
  if (fds) g_object_unref(fds);
  if (fd < 0) return;
  if (!self->handler_ || self->asleep_) {
    ::close(fd);  // stopped meanwhile, or the sleep began before the lock came
    return;
  }
  self->inhibitFd_ = fd;
}

void LogindSleepNotifications::releaseDelayLock() {
  if (inhibitFd_ < 0) return;
  ::close(inhibitFd_);
  inhibitFd_ = -1;
}

}  // namespace pilvo::agent
