#include "testing/tray_watcher.h"

#include <memory>

#include "testing/wait.h"

namespace pilvo::testing {
namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kItemPath = "/StatusNotifierItem";

void onRegister(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar*,
                GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
  const char* service = nullptr;
  g_variant_get(parameters, "(&s)", &service);
  static_cast<TrayWatcher*>(self)->registered.insert(service);
  static_cast<TrayWatcher*>(self)->senders.insert(sender);
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

void onNameOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                        GVariant* parameters, gpointer self) {
  const char *name, *from, *to;
  g_variant_get(parameters, "(&s&s&s)", &name, &from, &to);
  if (*to == '\0') static_cast<TrayWatcher*>(self)->registered.erase(name);
}

}  // namespace

TrayWatcher::TrayWatcher() {
  char* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  connection_ = g_dbus_connection_new_for_address_sync(
      address,
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  g_free(address);
  if (!connection_) return;
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(
      "<node><interface name='org.kde.StatusNotifierWatcher'>"
      "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
      "</interface></node>",
      nullptr);
  static const GDBusInterfaceVTable vtable = {onRegister, nullptr, nullptr, {}};
  objectId_ = g_dbus_connection_register_object(connection_, "/StatusNotifierWatcher",
                                                info->interfaces[0], &vtable, this, nullptr,
                                                nullptr);
  g_dbus_node_info_unref(info);
  subscription_ = g_dbus_connection_signal_subscribe(
      connection_, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", nullptr,
      nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onNameOwnerChanged, this, nullptr);
  newIconSubscription_ = g_dbus_connection_signal_subscribe(
      connection_, nullptr, "org.kde.StatusNotifierItem", "NewIcon", nullptr, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
         gpointer self) { ++static_cast<TrayWatcher*>(self)->newIcons; },
      this, nullptr);
  ownerId_ = g_bus_own_name_on_connection(connection_, kWatcherName, G_BUS_NAME_OWNER_FLAGS_NONE,
                                          nullptr, nullptr, nullptr, nullptr);
}

TrayWatcher::~TrayWatcher() {
  if (!connection_) return;
  g_bus_unown_name(ownerId_);
  g_dbus_connection_signal_unsubscribe(connection_, subscription_);
  g_dbus_connection_signal_unsubscribe(connection_, newIconSubscription_);
  g_dbus_connection_unregister_object(connection_, objectId_);
  g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  g_object_unref(connection_);
}

GVariant* TrayWatcher::call(const std::string& item, const char* interface, const char* method,
                            GVariant* parameters) {
  if (!connection_) {
    if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
    return nullptr;
  }
  struct Pending {
    ~Pending() {
      if (reply) g_variant_unref(reply);
    }
    GVariant* reply = nullptr;
    bool done = false;
  };
  // Shared with the callback, which may come after a wait that timed out.
  auto pending = std::make_shared<Pending>();
  g_dbus_connection_call(
      connection_, item.c_str(), kItemPath, interface, method, parameters, nullptr,
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::shared_ptr<Pending>> p(static_cast<std::shared_ptr<Pending>*>(data));
        (*p)->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
        (*p)->done = true;
      },
      new std::shared_ptr<Pending>(pending));
  pumpUntil([&] { return pending->done; });
  return std::exchange(pending->reply, nullptr);
}

std::pair<uint32_t, int> TrayWatcher::sample(const std::string& item) {
  GVariant* reply = call(item, "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", "org.kde.StatusNotifierItem", "IconPixmap"));
  if (!reply) return {0, -1};
  GVariant* boxed = nullptr;
  g_variant_get(reply, "(v)", &boxed);
  std::pair<uint32_t, int> pixel{0, -1};
  if (g_variant_is_of_type(boxed, G_VARIANT_TYPE("a(iiay)"))) {
    GVariantIter iter;
    g_variant_iter_init(&iter, boxed);
    int width, height;
    GVariant* data;
    while (g_variant_iter_next(&iter, "(ii@ay)", &width, &height, &data)) {
      gsize length = 0;
      const auto* argb = static_cast<const uint8_t*>(g_variant_get_fixed_array(data, &length, 1));
      if (width == 32 && height == 32 && length == 32u * 32u * 4u) {
        const uint8_t* p = argb + (22 * 32 + 16) * 4;
        pixel = {uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3], p[0]};
      }
      g_variant_unref(data);
    }
  }
  g_variant_unref(boxed);
  g_variant_unref(reply);
  return pixel;
}

}  // namespace pilvo::testing
