#include "host/main_flutter_window.h"

#include <X11/Xatom.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

namespace pilvo::host {
namespace {

constexpr const char* kStyleSheet = R"css(
/* The decoration paints the one translucent surface under title bar and
   content alike; the window itself stays clear so nothing is blended twice. */
window.pilvo-main decoration {
  background-color: rgba(30, 32, 38, 0.86);
  border-radius: 16px;
  border: none;
  box-shadow: 0 0 0 1px rgba(255, 255, 255, 0.08);
}
window.pilvo-main {
  background-color: transparent;
  border-radius: 16px;
  color: #e8eaf0;
}
window.pilvo-main headerbar,
window.pilvo-main headerbar:backdrop,
window.pilvo-main .titlebar,
window.pilvo-main .titlebar:backdrop {
  background-color: transparent;
  background-image: none;
  border: none;
  box-shadow: none;
  min-height: 28px;
  padding: 2px 6px;
}
window.pilvo-main headerbar button {
  color: #e8eaf0;
}
window.pilvo-main .pilvo-sidebar-button {
  color: alpha(currentColor, 0.65);
  min-width: 28px;
  min-height: 28px;
  padding: 0;
}
.pilvo-status-title { font-size: 20pt; font-weight: bold; }
.pilvo-status-text { color: alpha(currentColor, 0.75); }
.pilvo-status-command {
  font-family: monospace;
  background-color: rgba(255, 255, 255, 0.08);
  padding: 8px 12px;
  border-radius: 6px;
}
)css";

// The invisible border client-side decorations put around a window (resize
// handles, shadows) is never wider than this.
constexpr int kMaxDecorationMargin = 64;

// Icons tried in turn for the sidebar button; a text symbol when none exists.
constexpr const char* kSidebarIcons[] = {"sidebar-show-symbolic", "view-sidebar-start-symbolic",
                                         "view-sidebar-symbolic"};
constexpr const char* kSidebarFallbackLabel = "\u229E";

GtkWidget* makeLabel(const char* styleClass) {
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
  gtk_style_context_add_class(gtk_widget_get_style_context(label), styleClass);
  return label;
}

}  // namespace

MainFlutterWindow::MainFlutterWindow(GtkApplication* application, channels::FlutterEngine& engine,
                                     DefaultsStore& defaults, HostLogSink log)
    : engine_(engine), defaults_(defaults), log_(std::move(log)) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(window_);
  if (application) gtk_window_set_application(GTK_WINDOW(window_), application);
  gtk_window_set_title(GTK_WINDOW(window_), "Pilvo");
  gtk_window_set_icon_name(GTK_WINDOW(window_), "com.pilvo.Pilvo");

  headerBar_ = gtk_header_bar_new();
  // An empty custom title keeps the title bar title-less.
  gtk_header_bar_set_custom_title(GTK_HEADER_BAR(headerBar_),
                                  gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0));
  gtk_window_set_titlebar(GTK_WINDOW(window_), headerBar_);

  // The stand-in for the interface's view.
  content_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 14);
  gtk_widget_set_halign(content, GTK_ALIGN_CENTER);
  gtk_widget_set_valign(content, GTK_ALIGN_CENTER);
  gtk_widget_set_vexpand(content, TRUE);
  gtk_widget_set_margin_start(content, 48);
  gtk_widget_set_margin_end(content, 48);
  statusTitle_ = makeLabel("pilvo-status-title");
  statusText_ = makeLabel("pilvo-status-text");
  statusCommand_ = makeLabel("pilvo-status-command");
  // The command can be copied; it never takes the focus (which would select it all).
  gtk_label_set_selectable(GTK_LABEL(statusCommand_), TRUE);
  gtk_widget_set_can_focus(statusCommand_, FALSE);
  gtk_container_add(GTK_CONTAINER(content), statusTitle_);
  gtk_container_add(GTK_CONTAINER(content), statusText_);
  gtk_container_add(GTK_CONTAINER(content), statusCommand_);
  gtk_container_add(GTK_CONTAINER(content_), content);
  status_ = content;
  gtk_container_add(GTK_CONTAINER(window_), content_);
  gtk_widget_show_all(content_);
  gtk_widget_show_all(headerBar_);
  setBridgeState({});

  g_signal_connect(window_, "delete-event", G_CALLBACK(onDeleteEvent), this);
  g_signal_connect(window_, "screen-changed", G_CALLBACK(onScreenChanged), this);
  g_signal_connect(window_, "map-event", G_CALLBACK(onMapEvent), this);
  g_signal_connect(window_, "configure-event", G_CALLBACK(onConfigureEvent), this);
  screen_ = gtk_widget_get_screen(window_);
  g_signal_connect(screen_, "monitors-changed", G_CALLBACK(onMonitorsChanged), this);
  // Panels appearing, leaving or changing size move the work area (_NET_WORKAREA).
  rootWindow_ = gdk_screen_get_root_window(screen_);
  if (rootWindow_ && GDK_IS_X11_WINDOW(rootWindow_)) {
    gdk_window_set_events(
        rootWindow_,
        static_cast<GdkEventMask>(gdk_window_get_events(rootWindow_) | GDK_PROPERTY_CHANGE_MASK));
    gdk_window_add_filter(rootWindow_, onRootEvent, this);
  } else {
    rootWindow_ = nullptr;
  }
}

MainFlutterWindow::~MainFlutterWindow() {
  interface_.reset();  // the page's connection goes before the window
  if (rootWindow_) gdk_window_remove_filter(rootWindow_, onRootEvent, this);
  g_signal_handlers_disconnect_by_data(screen_, this);
  g_signal_handlers_disconnect_by_data(window_, this);
  if (sidebarButton_) g_signal_handlers_disconnect_by_data(sidebarButton_, this);
  gtk_widget_destroy(window_);
  g_object_unref(window_);
}

void MainFlutterWindow::awakeFromNib(const HostServices& services) {
  sidebarChannel_ = registerChannels(engine_, services);

  setupSidebarButton();
  gtk_window_set_resizable(GTK_WINDOW(window_), TRUE);
  gtk_window_set_deletable(GTK_WINDOW(window_), TRUE);
  // The title buttons (which, and on which side) follow the desktop's own
  // layout, gtk-decoration-layout; the sidebar button stays at the leading edge.
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(headerBar_), TRUE);
  // The style sheet sets the title bar's height, which the minimum size and
  // the placement leave room for, so it comes first.
  applyTranslucentStyle();
  updateMinimumSize();
  restoreFrame();
  updateMinimumSize();  // on the monitor the window is to appear on
}

void MainFlutterWindow::setupSidebarButton() {
  GtkIconTheme* theme = gtk_icon_theme_get_default();
  for (const char* icon : kSidebarIcons) {
    if (theme && gtk_icon_theme_has_icon(theme, icon)) {
      sidebarButton_ = gtk_button_new_from_icon_name(icon, GTK_ICON_SIZE_BUTTON);
      break;
    }
  }
  if (!sidebarButton_) sidebarButton_ = gtk_button_new_with_label(kSidebarFallbackLabel);
  gtk_button_set_relief(GTK_BUTTON(sidebarButton_), GTK_RELIEF_NONE);
  gtk_widget_set_focus_on_click(sidebarButton_, FALSE);
  gtk_widget_set_size_request(sidebarButton_, 28, 28);
  gtk_widget_set_valign(sidebarButton_, GTK_ALIGN_CENTER);
  gtk_widget_set_margin_start(sidebarButton_, 4);
  gtk_widget_set_margin_end(sidebarButton_, 4);
  gtk_widget_set_tooltip_text(sidebarButton_, kToggleSidebarName);
  atk_object_set_name(gtk_widget_get_accessible(sidebarButton_), kToggleSidebarName);
  gtk_style_context_add_class(gtk_widget_get_style_context(sidebarButton_), "pilvo-sidebar-button");
  g_signal_connect(sidebarButton_, "clicked", G_CALLBACK(onSidebarClicked), this);
  // The leading edge: left, or right in right-to-left locales.
  gtk_header_bar_pack_start(GTK_HEADER_BAR(headerBar_), sidebarButton_);
  gtk_widget_show(sidebarButton_);
}

void MainFlutterWindow::toggleSidebar() {
  if (sidebarChannel_) sidebarChannel_->invokeMethod("toggle", channels::Value());
}

void MainFlutterWindow::applyTranslucentStyle() {
  GtkStyleContext* style = gtk_widget_get_style_context(window_);
  gtk_style_context_add_class(style, "pilvo-main");
  GtkCssProvider* css = gtk_css_provider_new();
  GError* error = nullptr;
  if (!gtk_css_provider_load_from_data(css, kStyleSheet, -1, &error) && log_) {
    log_(HostLogLevel::kError, std::string("Tavik: ERROR - window style: ") + error->message);
  }
  g_clear_error(&error);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window_), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  onScreenChanged(window_, nullptr, this);
}

void MainFlutterWindow::restoreFrame() {
  std::optional<WindowFrame> frame =
      ::pilvo::host::restoreFrame(defaults_.stringForKey(kMainWindowFrameKey));
  if (!frame) {
    const ContentSize size = fitContentSize({kDefaultContentWidth, kDefaultContentHeight},
                                            currentWorkarea(), decorationSize());
    gtk_window_set_default_size(GTK_WINDOW(window_), size.width, size.height);
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    return;
  }
  const ScreenRect place = placeRestoredFrame(*frame, screenLayout(), decorationSize());
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_NONE);
  gtk_window_set_default_size(GTK_WINDOW(window_), place.width, place.height);
  gtk_window_resize(GTK_WINDOW(window_), place.width, place.height);
  gtk_window_move(GTK_WINDOW(window_), place.x, place.y);
  requestedPlace_ = place;
}

ScreenLayout MainFlutterWindow::screenLayout() const {
  ScreenLayout layout;
  GdkDisplay* display = gtk_widget_get_display(window_);
  GdkMonitor* primary = gdk_display_get_primary_monitor(display);
  const int count = gdk_display_get_n_monitors(display);
  int bottom = 0;
  for (int i = 0; i < count; ++i) {
    GdkMonitor* monitor = gdk_display_get_monitor(display, i);
    GdkRectangle geometry, workarea;
    gdk_monitor_get_geometry(monitor, &geometry);
    gdk_monitor_get_workarea(monitor, &workarea);
    bottom = std::max(bottom, geometry.y + geometry.height);
    ScreenRect area{workarea.x, workarea.y, workarea.width, workarea.height};
    if (monitor == primary) {
      layout.workareas.insert(layout.workareas.begin(), area);
    } else {
      layout.workareas.push_back(area);
    }
  }
  layout.height = bottom;
  return layout;
}

ScreenRect MainFlutterWindow::currentWorkarea() const {
  GdkDisplay* display = gtk_widget_get_display(window_);
  GdkWindow* gdkWindow = gtk_widget_get_window(window_);
  GdkMonitor* monitor = nullptr;
  if (gdkWindow && gtk_widget_get_mapped(window_)) {
    monitor = gdk_display_get_monitor_at_window(display, gdkWindow);
  } else if (requestedPlace_) {
    // The middle of the title bar.
    monitor =
        gdk_display_get_monitor_at_point(display, requestedPlace_->x + requestedPlace_->width / 2,
                                         requestedPlace_->y + kReachableStripHeight / 2);
  }
  if (!monitor) monitor = gdk_display_get_primary_monitor(display);
  if (!monitor && gdk_display_get_n_monitors(display) > 0) {
    monitor = gdk_display_get_monitor(display, 0);
  }
  if (!monitor) return {};
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  return {area.x, area.y, area.width, area.height};
}

namespace {

// A property of four CARDINALs (left, right, top, bottom) on `window`, as
// _NET_FRAME_EXTENTS and _GTK_FRAME_EXTENTS are; nullopt when it is not set.
std::optional<std::array<long, 4>> frameExtents(GdkWindow* window, const char* name) {
  GdkDisplay* display = gdk_window_get_display(window);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  gdk_x11_display_error_trap_push(display);
  const int status = XGetWindowProperty(GDK_DISPLAY_XDISPLAY(display), GDK_WINDOW_XID(window),
                                        gdk_x11_get_xatom_by_name_for_display(display, name), 0, 4,
                                        False, XA_CARDINAL, &type, &format, &count, &after, &data);
  gdk_x11_display_error_trap_pop_ignored(display);
  std::optional<std::array<long, 4>> extents;
  if (status == Success && data && type == XA_CARDINAL && format == 32 && count == 4) {
    const long* values = reinterpret_cast<const long*>(data);  // Xlib hands 32-bit items as long
    extents = std::array<long, 4>{values[0], values[1], values[2], values[3]};
  }
  if (data) XFree(data);
  return extents;
}

}  // namespace

Decoration MainFlutterWindow::decorationSize() const {
  // What GTK puts around the content: the title bar above it and the border
  // of the client-side decorations (resize margins, shadows) on every side.
  // gtk_window_get_size() counts neither, gtk_window_get_position() lies
  // inside the border.
  int windowWidth = 0, windowHeight = 0, contentWidth = 0, contentHeight = 0, titleBar = 0;
  gtk_widget_get_preferred_width(window_, &windowWidth, nullptr);
  gtk_widget_get_preferred_height(window_, &windowHeight, nullptr);
  gtk_widget_get_preferred_width(content_, &contentWidth, nullptr);
  gtk_widget_get_preferred_height(content_, &contentHeight, nullptr);
  if (gtk_widget_get_visible(headerBar_)) {
    gtk_widget_get_preferred_height(headerBar_, &titleBar, nullptr);
  }
  const int borderWidth = std::max(0, windowWidth - contentWidth);
  const int borderHeight = std::max(0, windowHeight - contentHeight - titleBar);
  Decoration room{borderWidth / 2, borderHeight / 2, borderWidth - borderWidth / 2,
                  titleBar + borderHeight - borderHeight / 2};
  GdkWindow* gdkWindow = gtk_widget_get_window(window_);
  if (!gdkWindow || !GDK_IS_X11_WINDOW(gdkWindow)) return room;
  const int scale = std::max(1, gdk_window_get_scale_factor(gdkWindow));
  // A window manager that knows the shadows (_GTK_FRAME_EXTENTS) lets them
  // leave the screen; others keep the whole window on it.
  if (gdk_x11_screen_supports_net_wm_hint(gdk_window_get_screen(gdkWindow),
                                          gdk_atom_intern_static_string("_GTK_FRAME_EXTENTS"))) {
    if (auto shadow = frameExtents(gdkWindow, "_GTK_FRAME_EXTENTS")) {
      room.left = std::max(0, room.left - static_cast<int>((*shadow)[0] / scale));
      room.right = std::max(0, room.right - static_cast<int>((*shadow)[1] / scale));
      room.top = std::max(0, room.top - static_cast<int>((*shadow)[2] / scale));
      room.bottom = std::max(titleBar, room.bottom - static_cast<int>((*shadow)[3] / scale));
    }
  }
  // A frame the window manager draws: the position is its top-left corner.
  if (auto frame = frameExtents(gdkWindow, "_NET_FRAME_EXTENTS")) {
    room.right += static_cast<int>(((*frame)[0] + (*frame)[1]) / scale);
    room.bottom += static_cast<int>(((*frame)[2] + (*frame)[3]) / scale);
  }
  return room;
}

void MainFlutterWindow::updateMinimumSize() {
  const ScreenRect area = currentWorkarea();
  const ContentSize minimum = area.width > 0 && area.height > 0
                                  ? minimumContentSize(area, decorationSize())
                                  : ContentSize{kMinWindowWidth, kMinWindowHeight};
  if (minimum == minimum_) return;
  minimum_ = minimum;
  // GTK measures a window with client-side decorations by its content, as
  // gtk_window_get_size() and gtk_window_resize() do; the minimum goes there too.
  gtk_widget_set_size_request(content_, minimum.width, minimum.height);
}

ScreenRect MainFlutterWindow::currentPlace() {
  ScreenRect place;
  gtk_window_get_position(GTK_WINDOW(window_), &place.x, &place.y);
  gtk_window_get_size(GTK_WINDOW(window_), &place.width, &place.height);
  GdkWindow* gdkWindow = gtk_widget_get_window(window_);
  if (!gdkWindow || !gtk_widget_get_mapped(window_)) return place;
  // GTK reads the position from the window manager's frame, which is briefly
  // elsewhere while the window manager takes a window back after it was shown
  // again. The window's own origin on the server is always right; the two
  // differ only by the invisible border of the decorations, remembered here.
  int x = 0, y = 0;
  gdk_window_get_origin(gdkWindow, &x, &y);
  const int dx = place.x - x;
  const int dy = place.y - y;
  if (std::abs(dx) <= kMaxDecorationMargin && std::abs(dy) <= kMaxDecorationMargin) {
    decorationOffset_ = {dx, dy};
  } else {
    place.x = x + decorationOffset_.first;
    place.y = y + decorationOffset_.second;
  }
  return place;
}

WindowFrame MainFlutterWindow::currentFrame() {
  return frameFromScreen(currentPlace(), screenLayout().height);
}

void MainFlutterWindow::close() {
  ScreenRect place = currentPlace();
  // Not placed by the window manager yet: where it was asked to go counts.
  if (requestedPlace_) {
    place.x = requestedPlace_->x;
    place.y = requestedPlace_->y;
  }
  if (std::optional<std::string> stored =
          encodeFrame(frameFromScreen(place, screenLayout().height))) {
    const std::string error = defaults_.setString(kMainWindowFrameKey, *stored);
    if (!error.empty() && log_) {
      log_(HostLogLevel::kError, "Tavik: ERROR - could not save the window frame: " + error);
    }
  }
  if (gtk_widget_get_visible(window_)) closedPlace_ = place;
  gtk_widget_hide(window_);
}

void MainFlutterWindow::present(guint32 timestamp) {
  if (!gtk_widget_get_visible(window_) && closedPlace_) {
    gtk_window_move(GTK_WINDOW(window_), closedPlace_->x, closedPlace_->y);
    // GTK keeps the size of a hidden window; only the position needs asking for.
    requestedPlace_ = closedPlace_;
  }
  gtk_window_present_with_time(GTK_WINDOW(window_), timestamp);
}

gboolean MainFlutterWindow::onMapEvent(GtkWidget*, GdkEvent*, gpointer data) {
  auto* self = static_cast<MainFlutterWindow*>(data);
  // Now with the window manager's frame, and on the monitor it was put on.
  self->updateMinimumSize();
  if (std::optional<ScreenRect> place = std::exchange(self->requestedPlace_, std::nullopt)) {
    // GTK still reports the position it asked for; the window manager's
    // answer may differ, so ask again (a no-op when it was honoured).
    gtk_window_move(GTK_WINDOW(self->window_), place->x, place->y);
  }
  return FALSE;
}

namespace {

// The monitor gdk_display_get_monitor_at_window() picks for the window the
// event configures. On X11 it is found from the event's geometry (GDK gives a
// top-level window's position on the screen), without asking the server where
// the window is: the monitor showing most of it, else the one at its centre.
// Wayland keeps positions to itself but tells GDK the window's outputs.
GdkMonitor* monitorUnder(const GdkEventConfigure& configure) {
  GdkDisplay* display = gdk_window_get_display(configure.window);
  if (!GDK_IS_X11_DISPLAY(display)) {
    return gdk_display_get_monitor_at_window(display, configure.window);
  }
  const GdkRectangle r{configure.x, configure.y, configure.width, configure.height};
  GdkMonitor* best = nullptr;
  int bestArea = 0;
  for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
    GdkMonitor* monitor = gdk_display_get_monitor(display, i);
    GdkRectangle geometry, overlap;
    gdk_monitor_get_geometry(monitor, &geometry);
    if (gdk_rectangle_intersect(&r, &geometry, &overlap) &&
        overlap.width * overlap.height > bestArea) {
      best = monitor;
      bestArea = overlap.width * overlap.height;
    }
  }
  return best ? best
              : gdk_display_get_monitor_at_point(display, r.x + r.width / 2, r.y + r.height / 2);
}

}  // namespace

gboolean MainFlutterWindow::onConfigureEvent(GtkWidget*, GdkEvent* event, gpointer data) {
  auto* self = static_cast<MainFlutterWindow*>(data);
  // A drag sends configure after configure; the minimum changes only with
  // the monitor.
  GdkMonitor* monitor = monitorUnder(event->configure);
  if (monitor == self->monitor_) return FALSE;
  self->monitor_ = monitor;
  self->updateMinimumSize();
  return FALSE;
}

void MainFlutterWindow::onMonitorsChanged(GdkScreen*, gpointer data) {
  auto* self = static_cast<MainFlutterWindow*>(data);
  self->monitor_ = nullptr;  // perhaps gone; a new one may take its address
  self->updateMinimumSize();
}

GdkFilterReturn MainFlutterWindow::onRootEvent(GdkXEvent* xevent, GdkEvent*, gpointer data) {
  auto* self = static_cast<MainFlutterWindow*>(data);
  const XEvent* event = static_cast<const XEvent*>(xevent);
  if (event->type == PropertyNotify &&
      event->xproperty.atom == gdk_x11_get_xatom_by_name_for_display(
                                   gtk_widget_get_display(self->window_), "_NET_WORKAREA")) {
    self->updateMinimumSize();
  }
  return GDK_FILTER_CONTINUE;
}

void MainFlutterWindow::setBridgeState(const BridgeState& state) {
  if (interfaceStopped_) return;  // what the view says then stays
  const std::string& socketPath = state.socketPath;
  const size_t clients = state.clients;
  const std::string& error = state.error;
  if (!error.empty()) {
    gtk_label_set_text(GTK_LABEL(statusTitle_), "The interface cannot connect");
    gtk_label_set_text(GTK_LABEL(statusText_), error.c_str());
    gtk_label_set_text(GTK_LABEL(statusCommand_), "");
    gtk_widget_hide(statusCommand_);
    return;
  }
  gtk_widget_show(statusCommand_);
  if (clients > 0) {
    gtk_label_set_text(GTK_LABEL(statusTitle_), "Interface connected");
    const std::string text =
        clients == 1 ? std::string("1 interface process is connected to ")
                     : std::to_string(clients) + " interface processes are connected to ";
    gtk_label_set_text(GTK_LABEL(statusText_), (text + socketPath).c_str());
    gtk_label_set_text(GTK_LABEL(statusCommand_), "pilvoctl listen com.tavik/sidebar");
    return;
  }
  gtk_label_set_text(GTK_LABEL(statusTitle_), "No interface connected");
  const std::string where = socketPath.empty() ? std::string("the host's socket") : socketPath;
  const std::string text = "Pilvo's interface runs as its own process and connects to\n" + where +
                           "\nTo try the channels by hand, run for example:";
  gtk_label_set_text(GTK_LABEL(statusText_), text.c_str());
  const std::string command =
      socketPath.empty()
          ? std::string("pilvoctl call com.tavik/tracking getActiveAppName")
          : "pilvoctl --socket " + socketPath + " call com.tavik/tracking getActiveAppName";
  gtk_label_set_text(GTK_LABEL(statusCommand_), command.c_str());
}

void MainFlutterWindow::showInterface(const std::string& page) {
  if (interface_) return;
  interface_ =
      std::make_unique<interface::InterfaceView>(page, [log = log_](const std::string& line) {
        if (log) log(HostLogLevel::kInfo, "Tavik: " + line);
      });
  gtk_widget_hide(status_);
  gtk_box_pack_start(GTK_BOX(content_), interface_->widget(), TRUE, TRUE, 0);
  gtk_widget_show(interface_->widget());
  // An empty page says nothing: the plain view tells what happened instead.
  interface_->onStopped([this] {
    interfaceStopped_ = true;
    gtk_widget_hide(interface_->widget());
    gtk_label_set_text(GTK_LABEL(statusTitle_), "The interface stopped");
    gtk_label_set_text(
        GTK_LABEL(statusText_),
        "Its web process (WebKitGTK) ended again and again, so it is not started any more.\n"
        "Pilvo's messages on standard error (or in the journal) say why. Quit Pilvo from the\n"
        "tray menu and start it again to try once more; the agent keeps recording meanwhile.");
    gtk_widget_hide(statusCommand_);
    gtk_widget_show(status_);
  });
}

void MainFlutterWindow::startInterface(channels::BridgeServer& bridge) {
  if (interface_) interface_->start(bridge, engine_.binaryMessenger());
}

std::string MainFlutterWindow::contentText() const {
  std::string text;
  for (GtkWidget* label : {statusTitle_, statusText_, statusCommand_}) {
    if (!gtk_widget_get_visible(label)) continue;
    if (!text.empty()) text += "\n";
    text += gtk_label_get_text(GTK_LABEL(label));
  }
  return text;
}

gboolean MainFlutterWindow::onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
  static_cast<MainFlutterWindow*>(self)->close();
  return TRUE;  // hidden, not destroyed
}

void MainFlutterWindow::onSidebarClicked(GtkButton*, gpointer self) {
  static_cast<MainFlutterWindow*>(self)->toggleSidebar();
}

void MainFlutterWindow::onScreenChanged(GtkWidget* widget, GdkScreen*, gpointer) {
  // Translucent where a compositor blends it; an opaque window otherwise, so
  // the corners do not turn black.
  GdkScreen* screen = gtk_widget_get_screen(widget);
  GdkVisual* visual = gdk_screen_is_composited(screen) ? gdk_screen_get_rgba_visual(screen)
                                                       : gdk_screen_get_system_visual(screen);
  if (visual && !gtk_widget_get_realized(widget)) gtk_widget_set_visual(widget, visual);
  gtk_widget_set_app_paintable(widget, FALSE);
}

}  // namespace pilvo::host
