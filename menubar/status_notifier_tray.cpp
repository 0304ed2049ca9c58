#include "menubar/status_notifier_tray.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <map>
#include <utility>

#include "menubar/tray_icon.h"

namespace pilvo::menubar {
namespace {

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kItemXml =
    "<node>"
    " <interface name='org.kde.StatusNotifierItem'>"
    "  <property name='Category' type='s' access='read'/>"
    "  <property name='Id' type='s' access='read'/>"
    "  <property name='Title' type='s' access='read'/>"
    "  <property name='Status' type='s' access='read'/>"
    "  <property name='IconName' type='s' access='read'/>"
    "  <property name='IconPixmap' type='a(iiay)' access='read'/>"
    "  <property name='ToolTip' type='(sa(iiay)ss)' access='read'/>"
    "  <property name='ItemIsMenu' type='b' access='read'/>"
    "  <property name='Menu' type='o' access='read'/>"
    "  <method name='ContextMenu'><arg name='x' type='i' direction='in'/>"
    "   <arg name='y' type='i' direction='in'/></method>"
    "  <method name='Activate'><arg name='x' type='i' direction='in'/>"
    "   <arg name='y' type='i' direction='in'/></method>"
    "  <method name='SecondaryActivate'><arg name='x' type='i' direction='in'/>"
    "   <arg name='y' type='i' direction='in'/></method>"
    "  <method name='Scroll'><arg name='delta' type='i' direction='in'/>"
    "   <arg name='orientation' type='s' direction='in'/></method>"
    "  <signal name='NewTitle'/>"
    "  <signal name='NewIcon'/>"
    "  <signal name='NewToolTip'/>"
    "  <signal name='NewStatus'><arg name='status' type='s'/></signal>"
    " </interface>"
    "</node>";

constexpr const char* kRowTextKey = "pilvo-row-text";
constexpr const char* kRowActionKey = "pilvo-row-action";

GVariant* pixmapVariant(const TrayIconLook& look) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
  for (int size : kTrayIconSizes) {
    const TrayIconImage image = renderTrayIcon(size, look);
    if (image.size == 0) continue;
    const std::vector<uint8_t> argb = toNetworkArgb(image);
    GVariant* data = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, argb.data(), argb.size(), 1);
    g_variant_builder_add(&builder, "(ii@ay)", image.size, image.size, data);
  }
  return g_variant_ref_sink(g_variant_builder_end(&builder));
}

GdkPixbuf* pixbufFor(const TrayIconLook& look, int size) {
  TrayIconImage image = renderTrayIcon(size, look);
  if (image.size == 0) return nullptr;
  auto* bytes = new std::vector<uint8_t>(std::move(image.rgba));
  return gdk_pixbuf_new_from_data(
      bytes->data(), GDK_COLORSPACE_RGB, TRUE, 8, size, size, size * 4,
      [](guchar*, gpointer data) { delete static_cast<std::vector<uint8_t>*>(data); }, bytes);
}

bool xembedTrayPresent() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) return false;
  Display* xdisplay = gdk_x11_display_get_xdisplay(display);
  const std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(xdisplay));
  return XGetSelectionOwner(xdisplay, XInternAtom(xdisplay, selection.c_str(), False)) != None;
}

// GtkStatusIcon is the XEmbed tray client GTK 3 carries; deprecated, but the
// only one that needs no further dependency. Its calls are gathered here.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS
GObject* legacyIconNew(const std::string& tooltip) {
  GtkStatusIcon* icon = gtk_status_icon_new();
  gtk_status_icon_set_title(icon, "Pilvo");
  gtk_status_icon_set_name(icon, "com.pilvo.Pilvo");
  gtk_status_icon_set_tooltip_text(icon, tooltip.c_str());
  return G_OBJECT(icon);
}
void legacyIconSetTooltip(GObject* icon, const std::string& text) {
  gtk_status_icon_set_tooltip_text(GTK_STATUS_ICON(icon), text.c_str());
}
bool legacyIconEmbedded(GObject* icon) {
  return gtk_status_icon_is_embedded(GTK_STATUS_ICON(icon));
}
void legacyIconHide(GObject* icon) { gtk_status_icon_set_visible(GTK_STATUS_ICON(icon), FALSE); }
void legacyIconSetPixbuf(GObject* icon, GdkPixbuf* pixbuf) {
  gtk_status_icon_set_from_pixbuf(GTK_STATUS_ICON(icon), pixbuf);
}
std::optional<std::array<int, 4>> legacyIconGeometry(GObject* icon) {
  GdkRectangle area{};
  if (!gtk_status_icon_get_geometry(GTK_STATUS_ICON(icon), nullptr, &area, nullptr)) {
    return std::nullopt;
  }
  return std::array<int, 4>{area.x, area.y, area.width, area.height};
}
G_GNUC_END_IGNORE_DEPRECATIONS

}  // namespace

class SniItem;

struct StatusNotifierTray::Shared {
  std::function<void(std::string_view)> say;
  GDBusConnection* connection = nullptr;
  GDBusNodeInfo* nodeInfo = nullptr;
  guint watcherWatch = 0;
  bool watcherKnown = false;  // the first answer of the name watch has come
  bool watcherPresent = false;
  bool saidNoTray = false;
  unsigned nextItem = 0;
  // The item, if any: there is one at most, as its object path is fixed.
  SniItem* item = nullptr;
  std::map<std::pair<int, bool>, GVariant*> pixmaps;  // by (tint or -1, dimmed)

  GVariant* pixmap(const TrayIconLook& look) {
    const std::pair<int, bool> key{look.tint ? static_cast<int>(*look.tint) : -1, look.dimmed};
    auto it = pixmaps.find(key);
    if (it == pixmaps.end()) it = pixmaps.emplace(key, pixmapVariant(look)).first;
    return it->second;
  }
  void watcherChanged(bool present);
};

class SniItem final : public TrayItem {
 public:
  SniItem(StatusNotifierTray::Shared& shared, std::function<void()> clicked)
      : shared_(shared), clicked_(std::move(clicked)) {
    shared_.item = this;
    if (shared_.connection) {
      GError* error = nullptr;
      static const GDBusInterfaceVTable vtable = {
          &SniItem::onMethodCall, &SniItem::onGetProperty, nullptr, {}};
      objectId_ = g_dbus_connection_register_object(shared_.connection, kStatusNotifierItemPath,
                                                    shared_.nodeInfo->interfaces[0], &vtable, this,
                                                    nullptr, &error);
      if (objectId_ == 0) {
        shared_.say(std::string("Tavik: ERROR - tray item not exported: ") + error->message);
        g_error_free(error);
      } else {
        busName_ = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" +
                   std::to_string(++shared_.nextItem);
        ownerId_ = g_bus_own_name_on_connection(shared_.connection, busName_.c_str(),
                                                G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                                                &SniItem::onNameAcquired, nullptr, this, nullptr);
      }
    }
    if (shared_.watcherKnown) followWatcher();
  }

  ~SniItem() override {
    closeMenu();
    if (shared_.item == this) shared_.item = nullptr;
    if (ownerId_) g_bus_unown_name(ownerId_);  // the watcher drops the item
    if (objectId_) g_dbus_connection_unregister_object(shared_.connection, objectId_);
    dropLegacyIcon();
  }

  // A score in the same band keeps the picture: the tray is not asked to
  // fetch it again, nor the docked icon drawn again.
  void setTint(TrayTint tint) override {
    if (look_.tint == tint) return;
    look_.tint = tint;
    lookChanged();
  }
  void setDimmed(bool dimmed) override {
    if (look_.dimmed == dimmed) return;
    look_.dimmed = dimmed;
    lookChanged();
  }
  // Nor is the same text sent again when the score has not changed.
  void setTooltip(const std::string& text) override {
    if (tooltip_ == text) return;
    tooltip_ = text;
    emit("NewToolTip");
    if (legacy_) legacyIconSetTooltip(legacy_, text);
  }

  void popUpMenu(const std::vector<MenuRow>& rows, std::function<void(MenuAction)> chosen) override;

  // The StatusNotifier side when a watcher runs, else the XEmbed icon.
  void followWatcher() {
    if (shared_.watcherPresent && objectId_) {
      dropLegacyIcon();
      if (nameAcquired_) registerWithWatcher();
    } else {
      showLegacyIcon();
    }
  }

  const std::string& busName() const { return busName_; }
  bool legacyEmbedded() const { return legacy_ && legacyIconEmbedded(legacy_); }
  GtkWidget* openMenu() const { return menu_; }
  GObject* legacyIcon() const { return legacy_; }

 private:
  void showLegacyIcon() {
    if (legacy_) return;
    legacy_ = legacyIconNew(tooltip_);
    GObject* icon = legacy_;
    legacySize_ = 22;
    updateLegacyPixbuf();
    g_signal_connect(icon, "activate", G_CALLBACK(+[](GtkStatusIcon*, gpointer self) {
                       static_cast<SniItem*>(self)->clicked_();
                     }),
                     this);
    g_signal_connect(icon, "popup-menu",
                     G_CALLBACK(+[](GtkStatusIcon*, guint, guint, gpointer self) {
                       static_cast<SniItem*>(self)->clicked_();
                     }),
                     this);
    g_signal_connect(icon, "size-changed",
                     G_CALLBACK(+[](GtkStatusIcon*, gint size, gpointer self) {
                       auto* item = static_cast<SniItem*>(self);
                       item->legacySize_ = size > 0 ? size : 22;
                       item->updateLegacyPixbuf();
                       return gboolean{TRUE};
                     }),
                     this);
  }

  void dropLegacyIcon() {
    if (!legacy_) return;
    legacyIconHide(legacy_);
    g_signal_handlers_disconnect_by_data(legacy_, this);
    g_object_unref(legacy_);
    legacy_ = nullptr;
  }

  void updateLegacyPixbuf() {
    if (!legacy_) return;
    GdkPixbuf* pixbuf = pixbufFor(look_, legacySize_);
    if (!pixbuf) return;
    legacyIconSetPixbuf(legacy_, pixbuf);
    g_object_unref(pixbuf);
  }

  void lookChanged() {
    emit("NewIcon");
    updateLegacyPixbuf();
  }

  void emit(const char* signal) {
    if (!objectId_ || !nameAcquired_) return;
    g_dbus_connection_emit_signal(shared_.connection, nullptr, kStatusNotifierItemPath,
                                  kItemInterface, signal, nullptr, nullptr);
  }

  void registerWithWatcher() {
    g_dbus_connection_call(shared_.connection, kStatusNotifierWatcherName, "/StatusNotifierWatcher",
                           kStatusNotifierWatcherName, "RegisterStatusNotifierItem",
                           g_variant_new("(s)", busName_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE,
                           -1, nullptr, nullptr, nullptr);
  }

  static void onNameAcquired(GDBusConnection*, const gchar*, gpointer self) {
    auto* item = static_cast<SniItem*>(self);
    item->nameAcquired_ = true;
    if (item->shared_.watcherPresent) item->registerWithWatcher();
  }

  static void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                           const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                           gpointer self) {
    g_dbus_method_invocation_return_value(invocation, nullptr);
    const std::string name = method;
    if (name == "Activate" || name == "ContextMenu" || name == "SecondaryActivate") {
      static_cast<SniItem*>(self)->clicked_();
    }
  }

  static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                 const gchar* property, GError**, gpointer self) {
    auto* item = static_cast<SniItem*>(self);
    const std::string name = property;
    if (name == "Category") return g_variant_new_string("ApplicationStatus");
    if (name == "Id") return g_variant_new_string("com.pilvo.Pilvo");
    if (name == "Title") return g_variant_new_string("Pilvo");
    if (name == "Status") return g_variant_new_string("Active");
    if (name == "IconName") return g_variant_new_string("");
    if (name == "IconPixmap") return g_variant_ref(item->shared_.pixmap(item->look_));
    if (name == "ItemIsMenu") return g_variant_new_boolean(FALSE);
    if (name == "Menu") return g_variant_new_object_path("/NO_DBUSMENU");
    if (name == "ToolTip") {
      return g_variant_new("(s@a(iiay)ss)", "",
                           g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0), "Pilvo",
                           item->tooltip_.c_str());
    }
    return nullptr;
  }

  void closeMenu() {
    if (!menu_) return;
    GtkWidget* menu = std::exchange(menu_, nullptr);
    g_signal_handlers_disconnect_by_data(menu, this);
    gtk_widget_destroy(menu);
    chosen_ = nullptr;
  }

  void choose(MenuAction action) {
    auto chosen = chosen_;
    if (chosen) chosen(action);
  }

  StatusNotifierTray::Shared& shared_;
  std::function<void()> clicked_;
  TrayIconLook look_;
  std::string tooltip_ = "Pilvo";
  guint objectId_ = 0;
  guint ownerId_ = 0;
  bool nameAcquired_ = false;
  std::string busName_;
  GObject* legacy_ = nullptr;
  int legacySize_ = 22;
  GtkWidget* menu_ = nullptr;
  std::function<void(MenuAction)> chosen_;
};

void SniItem::popUpMenu(const std::vector<MenuRow>& rows, std::function<void(MenuAction)> chosen) {
  closeMenu();
  GtkWidget* menu = gtk_menu_new();
  for (const MenuRow& row : rows) {
    GtkWidget* line = nullptr;
    if (row.style == MenuRowStyle::kSeparator) {
      line = gtk_separator_menu_item_new();
      g_object_set_data_full(G_OBJECT(line), kRowTextKey, g_strdup("-"), g_free);
    } else {
      line = gtk_menu_item_new_with_label(row.text.c_str());
      GtkWidget* label = gtk_bin_get_child(GTK_BIN(line));
      if (row.style == MenuRowStyle::kHeader) {
        char* markup = g_markup_printf_escaped("<b>%s</b>", row.text.c_str());
        gtk_label_set_markup(GTK_LABEL(label), markup);
        g_free(markup);
      } else if (row.style == MenuRowStyle::kSession) {
        // The green dot before the session line.
        g_object_ref(label);
        gtk_container_remove(GTK_CONTAINER(line), label);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
        GtkWidget* dot = gtk_label_new(nullptr);
        gtk_label_set_markup(GTK_LABEL(dot),
                             "<span foreground='#34C759' size='small'>\u25CF</span>");
        gtk_box_pack_start(GTK_BOX(box), dot, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
        g_object_unref(label);
        gtk_container_add(GTK_CONTAINER(line), box);
        // Read out as its text, not as the dot (the first label inside).
        atk_object_set_name(gtk_widget_get_accessible(line), row.text.c_str());
      }
      if (row.key == "q" && GTK_IS_ACCEL_LABEL(label)) {
        gtk_accel_label_set_accel(GTK_ACCEL_LABEL(label), GDK_KEY_q, GdkModifierType(0));
      }
      gtk_widget_set_sensitive(line, row.enabled);
      g_object_set_data_full(G_OBJECT(line), kRowTextKey, g_strdup(row.text.c_str()), g_free);
      g_object_set_data(G_OBJECT(line), kRowActionKey,
                        GINT_TO_POINTER(static_cast<int>(row.action)));
      if (row.enabled) {
        g_signal_connect(line, "activate", G_CALLBACK(+[](GtkMenuItem* line, gpointer self) {
                           static_cast<SniItem*>(self)->choose(static_cast<MenuAction>(
                               GPOINTER_TO_INT(g_object_get_data(G_OBJECT(line), kRowActionKey))));
                         }),
                         this);
      }
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), line);
  }
  // The key of "Quit Pilvo" works while the menu is open.
  g_signal_connect(menu, "key-press-event",
                   G_CALLBACK(+[](GtkWidget* menu, GdkEventKey* event, gpointer self) {
                     const auto mods = event->state & gtk_accelerator_get_default_mod_mask();
                     if ((event->keyval != GDK_KEY_q && event->keyval != GDK_KEY_Q) || mods != 0) {
                       return gboolean{FALSE};
                     }
                     gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu));
                     static_cast<SniItem*>(self)->choose(MenuAction::kQuitApp);
                     return gboolean{TRUE};
                   }),
                   this);
  // Dropped once closed. A row's activation comes right after the menu is
  // deactivated, so the menu itself goes on the next turn of the loop.
  g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell* menu, gpointer self) {
                     auto* item = static_cast<SniItem*>(self);
                     if (item->menu_ == GTK_WIDGET(menu)) item->menu_ = nullptr;
                     g_idle_add(
                         [](gpointer menu) {
                           gtk_widget_destroy(GTK_WIDGET(menu));
                           g_object_unref(menu);
                           return G_SOURCE_REMOVE;
                         },
                         g_object_ref(menu));
                   }),
                   this);
  menu_ = menu;
  chosen_ = std::move(chosen);
  gtk_widget_show_all(menu);

  // At the pointer, on the root window: a D-Bus click carries no input event
  // and the XEmbed icon's own window is no good anchor, so the menu opens
  // where the pointer is, triggered by the click's press or, without one, as
  // if pressed there now.
  GdkDevice* pointer =
      gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
  GdkScreen* screen = nullptr;
  GdkRectangle at{0, 0, 1, 1};
  gdk_device_get_position(pointer, &screen, &at.x, &at.y);
  GdkWindow* root = gdk_screen_get_root_window(screen);
  GdkEvent* trigger = gtk_get_current_event();
  if (!trigger || (trigger->type != GDK_BUTTON_PRESS && trigger->type != GDK_BUTTON_RELEASE)) {
    if (trigger) gdk_event_free(trigger);
    trigger = gdk_event_new(GDK_BUTTON_PRESS);
    trigger->button.window = GDK_WINDOW(g_object_ref(root));
    trigger->button.time = GDK_CURRENT_TIME;
    trigger->button.button = 1;
    trigger->button.x = trigger->button.x_root = at.x;
    trigger->button.y = trigger->button.y_root = at.y;
    gdk_event_set_device(trigger, pointer);
  }
  gtk_menu_popup_at_rect(GTK_MENU(menu), root, &at, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST,
                         trigger);
  gdk_event_free(trigger);
}

void StatusNotifierTray::Shared::watcherChanged(bool present) {
  watcherKnown = true;
  watcherPresent = present;
  if (!present && !saidNoTray && item && !xembedTrayPresent()) {
    saidNoTray = true;
    say("Tavik: no system tray on this desktop yet; the Pilvo item appears when one starts");
  }
  if (item) item->followWatcher();
}

StatusNotifierTray::StatusNotifierTray(std::function<void(std::string_view)> say)
    : shared_(std::make_shared<Shared>()) {
  shared_->say = std::move(say);
  GError* error = nullptr;
  shared_->connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!shared_->connection) {
    shared_->say(std::string("Tavik: no session bus (") + error->message +
                 "); the tray item can only show in an XEmbed tray");
    g_error_free(error);
    shared_->watcherKnown = true;
    return;
  }
  shared_->nodeInfo = g_dbus_node_info_new_for_xml(kItemXml, nullptr);
  shared_->watcherWatch = g_bus_watch_name_on_connection(
      shared_->connection, kStatusNotifierWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, gpointer shared) {
        static_cast<Shared*>(shared)->watcherChanged(true);
      },
      [](GDBusConnection*, const gchar*, gpointer shared) {
        static_cast<Shared*>(shared)->watcherChanged(false);
      },
      shared_.get(), nullptr);
}

StatusNotifierTray::~StatusNotifierTray() {
  if (shared_->watcherWatch) g_bus_unwatch_name(shared_->watcherWatch);
  for (auto& [look, pixmap] : shared_->pixmaps) g_variant_unref(pixmap);
  if (shared_->nodeInfo) g_dbus_node_info_unref(shared_->nodeInfo);
  if (shared_->connection) g_object_unref(shared_->connection);
}

std::unique_ptr<TrayItem> StatusNotifierTray::createItem(std::function<void()> clicked) {
  return std::make_unique<SniItem>(*shared_, std::move(clicked));
}

std::string StatusNotifierTray::itemBusName() const {
  return shared_->item ? shared_->item->busName() : std::string();
}

bool StatusNotifierTray::legacyIconEmbedded() const {
  return shared_->item && shared_->item->legacyEmbedded();
}

std::optional<std::array<int, 4>> StatusNotifierTray::legacyIconGeometry() const {
  if (!shared_->item || !shared_->item->legacyIcon()) return std::nullopt;
  return pilvo::menubar::legacyIconGeometry(shared_->item->legacyIcon());
}

std::vector<std::string> StatusNotifierTray::openMenuRows() const {
  std::vector<std::string> rows;
  GtkWidget* menu = shared_->item ? shared_->item->openMenu() : nullptr;
  if (!menu) return rows;
  GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* l = children; l; l = l->next) {
    const auto* text = static_cast<const char*>(g_object_get_data(G_OBJECT(l->data), kRowTextKey));
    rows.emplace_back(text ? text : "");
  }
  g_list_free(children);
  return rows;
}

bool StatusNotifierTray::openMenuMapped() const {
  GtkWidget* menu = shared_->item ? shared_->item->openMenu() : nullptr;
  return menu && gtk_widget_get_mapped(gtk_widget_get_toplevel(menu));
}

}  // namespace pilvo::menubar
