#include "overlay/gtk_overlay_platform.h"

#include <gdk/gdkwayland.h>
#include <gdk/gdkx.h>
#include <gtk-layer-shell.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <list>

#include "common/data_files.h"
#include "common/restart_budget.h"
#include "overlay/animation_curve.h"
#ifdef PILVO_OVERLAY_FOCUSED_OUTPUT
#include "overlay/wayland_focused_output.h"
#else
namespace pilvo::overlay {
// Without the Wayland protocol code the focused window's output stays unknown.
class WaylandFocusedOutput {
 public:
  static std::unique_ptr<WaylandFocusedOutput> open(GdkDisplay*) { return nullptr; }
  GdkMonitor* monitor() { return nullptr; }
};
}  // namespace pilvo::overlay
#endif

namespace pilvo::overlay {
namespace {

std::function<void(bool, double)>& panelFrameObserver() {
  static std::function<void(bool, double)> observer;
  return observer;
}

// Height of the whole screen space: bottom-left y <-> GDK's top-left y.
int screenSpaceHeight() {
  GdkDisplay* display = gdk_display_get_default();
  int bottom = 0;
  for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
    GdkRectangle geometry;
    gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &geometry);
    bottom = std::max(bottom, geometry.y + geometry.height);
  }
  return bottom;
}

Rect fromGdk(const GdkRectangle& r, int spaceHeight) {
  return {double(r.x), double(spaceHeight - (r.y + r.height)), double(r.width), double(r.height)};
}

// The monitor that shows most of `r` (GDK coordinates); when none shows any
// of it, the nearest one.
GdkMonitor* monitorShowing(const GdkRectangle& r) {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* best = nullptr;
  double bestScore = 0;
  for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
    GdkMonitor* monitor = gdk_display_get_monitor(display, i);
    GdkRectangle g;
    gdk_monitor_get_geometry(monitor, &g);
    const double w = std::min(r.x + r.width, g.x + g.width) - std::max(r.x, g.x);
    const double h = std::min(r.y + r.height, g.y + g.height) - std::max(r.y, g.y);
    // Overlap counts positive, distance negative.
    const double score = w > 0 && h > 0 ? w * h : std::min(w, 0.0) + std::min(h, 0.0);
    if (!best || score > bestScore) {
      best = monitor;
      bestScore = score;
    }
  }
  return best;
}

// The centre of the active window in GDK coordinates, if there is one.
std::optional<std::pair<int, int>> activeWindowCentre() {
  if (!GDK_IS_X11_DISPLAY(gdk_display_get_default())) return std::nullopt;
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  GdkWindow* active = gdk_screen_get_active_window(gdk_screen_get_default());
  G_GNUC_END_IGNORE_DEPRECATIONS
  if (!active) return std::nullopt;
  GdkDisplay* display = gdk_display_get_default();
  gdk_x11_display_error_trap_push(display);
  GdkRectangle extents{0, 0, 0, 0};
  gdk_window_get_frame_extents(active, &extents);
  const bool failed = gdk_x11_display_error_trap_pop(display) != 0;
  g_object_unref(active);
  if (failed || extents.width <= 0 || extents.height <= 0) return std::nullopt;
  return std::pair{extents.x + extents.width / 2, extents.y + extents.height / 2};
}

// Animations and their completions for one window. A new animation of a
// property takes over its value; every completion runs once its own duration
// has elapsed on the loop.
class Animator {
 public:
  Animator(GtkWidget* widget, EventLoop& loop) : widget_(widget), loop_(loop) {}
  ~Animator() { stop(); }

  // `apply` receives the eased progress 0..1 on every frame while the window
  // is mapped, and 1 at the end at the latest.
  void start(double seconds, Curve curve, std::function<void(double)> apply, Completion done) {
    stop();
    apply_ = std::move(apply);
    curve_ = curve;
    seconds_ = seconds;
    startUs_ = -1;
    const uint64_t id = ++motion_;
    tick_ = gtk_widget_add_tick_callback(widget_, onTick, this, nullptr);
    const auto slot = timers_.emplace(timers_.end());
    *slot = loop_.addTimer(seconds, false, [this, id, slot, done] {
      if (id == motion_) finish();
      timers_.erase(slot);  // spent; the loop lets a timer drop itself here
      if (done) done();
    });
  }
  // Stops the running motion where it is; completions still run.
  void stop() {
    if (tick_) gtk_widget_remove_tick_callback(widget_, tick_);
    tick_ = 0;
    apply_ = nullptr;
    ++motion_;
  }

 private:
  void finish() {
    if (apply_) apply_(1.0);
    stop();
  }
  static gboolean onTick(GtkWidget*, GdkFrameClock* clock, gpointer data) {
    auto* self = static_cast<Animator*>(data);
    const gint64 now = gdk_frame_clock_get_frame_time(clock);
    if (self->startUs_ < 0) self->startUs_ = now;
    const double fraction =
        self->seconds_ > 0 ? double(now - self->startUs_) / (self->seconds_ * 1e6) : 1.0;
    if (self->apply_) self->apply_(easedProgress(self->curve_, fraction));
    if (fraction >= 1) {
      self->tick_ = 0;
      self->apply_ = nullptr;
      return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
  }

  GtkWidget* widget_;
  EventLoop& loop_;
  std::function<void(double)> apply_;
  Curve curve_ = Curve::kEaseOut;
  double seconds_ = 0;
  gint64 startUs_ = -1;
  guint tick_ = 0;
  uint64_t motion_ = 0;
  std::list<std::unique_ptr<EventSource>> timers_;
};

// What both windows share: a popup toplevel (X11) or a layer surface
// (Wayland), placed in bottom-left coordinates.
//
// A layer surface is anchored to the top right corner of its output and placed
// by its top and right margins, so a slide animates the right margin. Keyboard
// interactivity is none: the user's window keeps the keyboard.
class GtkFloating {
 public:
  GtkFloating(EventLoop& loop, Rect frame, GdkWindowTypeHint hint, GtkLayerShellLayer layer)
      : layered_(GtkOverlayPlatform::layerShell()),
        window_(gtk_window_new(layered_ ? GTK_WINDOW_TOPLEVEL : GTK_WINDOW_POPUP)),
        animator_(window_, loop),
        frame_(frame) {
    GtkWindow* window = GTK_WINDOW(window_);
    composited_ = GtkOverlayPlatform::composited();
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gdk_screen_get_default());
        rgba && composited_) {
      gtk_widget_set_visual(window_, rgba);
    }
    gtk_widget_set_app_paintable(window_, TRUE);
    gtk_window_set_title(window, "Pilvo");
    if (layered_) {
      gtk_layer_init_for_window(window);
      gtk_layer_set_namespace(window, "pilvo");
      gtk_layer_set_layer(window, layer);
      gtk_layer_set_keyboard_mode(window, GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
      gtk_layer_set_exclusive_zone(window, -1);  // bars do not push it aside
      gtk_layer_set_anchor(window, GTK_LAYER_SHELL_EDGE_TOP, TRUE);
      gtk_layer_set_anchor(window, GTK_LAYER_SHELL_EDGE_RIGHT, TRUE);
      place();
      return;
    }
    gtk_window_set_type_hint(window, hint);
    gtk_window_set_accept_focus(window, FALSE);
    gtk_window_set_focus_on_map(window, FALSE);
    gtk_window_set_decorated(window, FALSE);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
    gtk_window_set_skip_pager_hint(window, TRUE);
    gtk_window_set_keep_above(window, TRUE);
    gtk_window_stick(window);
    place();
  }
  ~GtkFloating() {
    animator_.stop();  // its tick callback belongs to the window destroyed next
    gtk_widget_destroy(window_);
  }

  void place() {
    if (layered_) {
      placeLayer();
      return;
    }
    const int top = screenSpaceHeight() - int(std::lround(frame_.y + frame_.height));
    gtk_window_move(GTK_WINDOW(window_), int(std::lround(frame_.x)), top);
    resize(int(std::lround(frame_.width)), int(std::lround(frame_.height)));
  }
  // Slides call place() on every frame but never change the size.
  void resize(int width, int height) {
    if (width == width_ && height == height_) return;
    width_ = width;
    height_ = height;
    if (layered_) {
      // The layer surface takes its size from the window's size request.
      gtk_widget_set_size_request(window_, width, height);
    }
    gtk_window_resize(GTK_WINDOW(window_), width, height);
  }
  void placeLayer() {
    GtkWindow* window = GTK_WINDOW(window_);
    const int width = int(std::lround(frame_.width));
    const int height = int(std::lround(frame_.height));
    const GdkRectangle gdkFrame{int(std::lround(frame_.x)),
                                screenSpaceHeight() - int(std::lround(frame_.maxY())), width,
                                height};
    GdkMonitor* monitor = monitorShowing(gdkFrame);
    if (!monitor) return;
    if (monitor != monitor_) {
      gtk_layer_set_monitor(window, monitor);
      monitor_ = monitor;
    }
    GdkRectangle g;
    gdk_monitor_get_geometry(monitor, &g);
    // sway never draws a layer surface that begins wholly off its output, so
    // one column of the window stays on screen.
    const int right = std::max(g.x + g.width - (gdkFrame.x + width), 1 - width);
    gtk_layer_set_margin(window, GTK_LAYER_SHELL_EDGE_TOP, gdkFrame.y - g.y);
    gtk_layer_set_margin(window, GTK_LAYER_SHELL_EDGE_RIGHT, right);
    resize(std::max(width, 1), std::max(height, 1));
  }
  void setInputPassThrough(bool passThrough) {
    passThrough_ = passThrough;
    if (layered_) {
      // Set on the widget, GTK applies the shape again when the window is
      // resized (one set on the GdkWindow alone was lost then); raise() sets
      // it anew for each new surface.
      cairo_region_t* empty = passThrough ? cairo_region_create() : nullptr;
      gtk_widget_input_shape_combine_region(window_, empty);
      if (empty) cairo_region_destroy(empty);
      return;
    }
    gtk_widget_realize(window_);
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    if (passThrough) {
      cairo_region_t* empty = cairo_region_create();
      gdk_window_input_shape_combine_region(gdkWindow, empty, 0, 0);
      cairo_region_destroy(empty);
    } else {
      gdk_window_input_shape_combine_region(gdkWindow, nullptr, 0, 0);
    }
  }
  void raise() {
    gtk_widget_show_all(window_);
    // Layer surfaces keep their layer's order: the panel's layer is above the dim's.
    if (!layered_) {
      gdk_window_raise(gtk_widget_get_window(window_));
      return;
    }
    // GDK gives a Wayland window that shows again a new surface, which takes
    // every click until the shape is set anew.
    setInputPassThrough(passThrough_);
  }

  const bool layered_;
  GtkWidget* window_;
  Animator animator_;
  Rect frame_;
  double alpha_ = 1.0;
  bool composited_ = false;
  GdkMonitor* monitor_ = nullptr;
  bool passThrough_ = false;
  // The size last asked of the window (-1: none yet).
  int width_ = -1;
  int height_ = -1;
};

class GtkPanelWindow final : public PanelWindow {
 public:
  GtkPanelWindow(EventLoop& loop, Rect frame, GtkWidget* relatedView)
      : base_(loop, frame, GDK_WINDOW_TYPE_HINT_NOTIFICATION, GTK_LAYER_SHELL_LAYER_OVERLAY) {
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    webkit_user_content_manager_register_script_message_handler(content, "nudgeResponse");
    g_signal_connect(content, "script-message-received::nudgeResponse", G_CALLBACK(onScriptMessage),
                     this);
    if (relatedView && WEBKIT_IS_WEB_VIEW(relatedView)) {
      // The same web process as the related view (its own content manager and
      // settings), so WebKit's memory is paid once.
      webView_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", content,
                                              "related-view", relatedView, nullptr));
    } else {
      webView_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content));
    }
    g_object_unref(content);
    WebKitSettings* settings = webkit_web_view_get_settings(webView_);
    webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
    // Transparent over a composited screen, the page's own colour otherwise.
    const GdkRGBA background =
        base_.composited_ ? GdkRGBA{0, 0, 0, 0} : GdkRGBA{0.96, 0.95, 0.99, 1};
    webkit_web_view_set_background_color(webView_, &background);
    g_signal_connect(webView_, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(webView_, "load-failed", G_CALLBACK(onLoadFailed), this);
    g_signal_connect(webView_, "web-process-terminated", G_CALLBACK(onProcessTerminated), this);
    gtk_widget_set_size_request(GTK_WIDGET(webView_), int(frame.width), int(frame.height));
    // Each frame starts from a clear window, or moving parts of a transparent
    // page leave trails.
    g_signal_connect(base_.window_, "draw", G_CALLBACK(onDrawClear), this);
    gtk_container_add(GTK_CONTAINER(base_.window_), GTK_WIDGET(webView_));
    gtk_widget_show(GTK_WIDGET(webView_));
    gtk_widget_realize(base_.window_);
  }
  ~GtkPanelWindow() override {
    g_signal_handlers_disconnect_by_data(webView_, this);
    g_signal_handlers_disconnect_by_data(base_.window_, this);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(webView_), this);
    *alive_ = false;
  }

  Rect frame() const override { return base_.frame_; }
  void setFrame(const Rect& frame) override {
    base_.animator_.stop();
    base_.frame_ = frame;
    base_.place();
  }
  double alpha() const override { return base_.alpha_; }
  void setAlpha(double alpha) override {
    base_.alpha_ = alpha;
    // Wayland has no opacity for whole surfaces; the page fades instead.
    gtk_widget_set_opacity(base_.layered_ ? GTK_WIDGET(webView_) : base_.window_, alpha);
  }
  void orderFront() override { base_.raise(); }
  void orderOut() override { gtk_widget_hide(base_.window_); }
  bool isVisible() const override { return gtk_widget_get_visible(base_.window_); }
  void setIgnoresMouseEvents(bool ignores) override { base_.setInputPassThrough(ignores); }

  void animateOrigin(Point to, double seconds, Curve curve, Completion done) override {
    const Point from = base_.frame_.origin();
    base_.animator_.start(
        seconds, curve,
        [this, from, to](double p) {
          base_.frame_.x = from.x + (to.x - from.x) * p;
          base_.frame_.y = from.y + (to.y - from.y) * p;
          base_.place();
          if (panelFrameObserver()) panelFrameObserver()(true, base_.frame_.x);
        },
        std::move(done));
  }

  void setWebEvents(WebEvents events) override { events_ = std::move(events); }
  void loadPage(const std::string& path) override {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (uri) webkit_web_view_load_uri(webView_, uri);
    g_free(uri);
  }
  void evaluateScript(const std::string& script, ScriptDone done) override {
    auto* request = new Request{std::move(done), alive_};
    webkit_web_view_evaluate_javascript(webView_, script.data(), gssize(script.size()), nullptr,
                                        nullptr, nullptr, onEvaluated, request);
  }

 private:
  struct Request {
    ScriptDone done;
    std::shared_ptr<bool> alive;
  };
  static gboolean onDrawClear(GtkWidget*, cairo_t* cr, gpointer data) {
    if (panelFrameObserver()) {
      panelFrameObserver()(false, static_cast<GtkPanelWindow*>(data)->frame().x);
    }
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, 0, 0, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    return FALSE;
  }
  static void onEvaluated(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Request> request(static_cast<Request*>(data));
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    ScriptResult outcome;
    if (value) {
      if (!jsc_value_is_undefined(value)) {
        gchar* json = jsc_value_to_json(value, 0);
        if (json) outcome.json = json;
        g_free(json);
      }
      g_object_unref(value);
    }
    if (error) outcome.error = error->message;
    g_clear_error(&error);
    if (*request->alive && request->done) request->done(outcome);
  }
  static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<GtkPanelWindow*>(data);
    if (event == WEBKIT_LOAD_STARTED) self->failed_ = false;
    // After a failure WebKit still reports the load as finished.
    if (event == WEBKIT_LOAD_FINISHED && !self->failed_ && self->events_.loadFinished) {
      self->events_.loadFinished();
    }
  }
  static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent event, gchar*, GError* error,
                               gpointer data) {
    auto* self = static_cast<GtkPanelWindow*>(data);
    self->failed_ = true;
    // A provisional (not yet committed) failure is not reported.
    if (event != WEBKIT_LOAD_STARTED && self->events_.loadFailed) {
      self->events_.loadFailed(error ? error->message : "unknown error");
    }
    return FALSE;
  }
  // The page is loaded again in a new web process (shared with the
  // interface's view when there is one), unless it keeps ending.
  static gboolean onProcessTerminated(WebKitWebView* view, int, gpointer data) {
    auto* self = static_cast<GtkPanelWindow*>(data);
    const bool again = self->restarts_.allow(RestartBudget::Clock::now());
    if (self->events_.loadFailed) {
      self->events_.loadFailed(again ? "the page's web process ended; loading it again"
                                     : "the page's web process keeps ending; not loading it again");
    }
    if (again) webkit_web_view_reload(view);
    return FALSE;
  }
  static void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                              gpointer data) {
    auto* self = static_cast<GtkPanelWindow*>(data);
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    std::optional<std::string> body;
    if (value && jsc_value_is_string(value)) {
      gchar* text = jsc_value_to_string(value);
      body = text ? text : "";
      g_free(text);
    }
    if (self->events_.scriptMessage) self->events_.scriptMessage("nudgeResponse", body);
  }

  GtkFloating base_;
  WebKitWebView* webView_ = nullptr;
  WebEvents events_;
  bool failed_ = false;
  RestartBudget restarts_ = webProcessRestartBudget();
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class GtkDimWindow final : public DimWindow {
 public:
  GtkDimWindow(EventLoop& loop, Rect frame)
      : base_(loop, frame, GDK_WINDOW_TYPE_HINT_UTILITY, GTK_LAYER_SHELL_LAYER_TOP) {
    base_.alpha_ = 0;
    g_signal_connect(base_.window_, "draw", G_CALLBACK(onDraw), this);
    base_.setInputPassThrough(true);
    if (!base_.layered_) askForBlurBehind();
  }

  Rect frame() const override { return base_.frame_; }
  void setFrame(const Rect& frame) override {
    base_.frame_ = frame;
    base_.place();
  }
  double alpha() const override { return base_.alpha_; }
  void setAlpha(double alpha) override {
    base_.alpha_ = alpha;
    gtk_widget_queue_draw(base_.window_);
  }
  void orderFront() override {
    // Without a compositor the tint would be an opaque black screen.
    if (!base_.composited_) return;
    base_.raise();
  }
  void orderOut() override { gtk_widget_hide(base_.window_); }
  bool isVisible() const override { return gtk_widget_get_visible(base_.window_); }
  void animateAlpha(double to, double seconds, Curve curve, Completion done) override {
    const double from = base_.alpha_;
    base_.animator_.start(
        seconds, curve, [this, from, to](double p) { setAlpha(from + (to - from) * p); },
        std::move(done));
  }

 private:
  static gboolean onDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* self = static_cast<GtkDimWindow*>(data);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.25 * std::clamp(self->base_.alpha_, 0.0, 1.0));
    cairo_paint(cr);
    return TRUE;
  }
  // KWin blurs what lies behind a window that carries this (empty = all of it).
  void askForBlurBehind() {
    GdkWindow* window = gtk_widget_get_window(base_.window_);
    gdk_property_change(window, gdk_atom_intern_static_string("_KDE_NET_WM_BLUR_BEHIND_REGION"),
                        gdk_atom_intern_static_string("CARDINAL"), 32, GDK_PROP_MODE_REPLACE,
                        nullptr, 0);
  }

  GtkFloating base_;
};

}  // namespace

GtkOverlayPlatform::GtkOverlayPlatform(EventLoop& loop) : loop_(loop) {}

void GtkOverlayPlatform::setPanelFrameObserver(std::function<void(bool moved, double x)> observer) {
  panelFrameObserver() = std::move(observer);
}

bool GtkOverlayPlatform::layerShell() {
  GdkDisplay* display = gdk_display_get_default();
  return display && GDK_IS_WAYLAND_DISPLAY(display) && gtk_layer_is_supported();
}

bool GtkOverlayPlatform::composited() {
  GdkScreen* screen = gdk_screen_get_default();
  return screen && gdk_screen_is_composited(screen);
}

std::optional<Screen> GtkOverlayPlatform::mainScreen() {
  GdkDisplay* display = gdk_display_get_default();
  const int count = display ? gdk_display_get_n_monitors(display) : 0;
  if (count == 0) return std::nullopt;
  // On Wayland only layer surfaces can float above the other windows.
  if (!GDK_IS_X11_DISPLAY(display) && !layerShell()) return std::nullopt;
  GdkMonitor* chosen = nullptr;
  if (!GDK_IS_X11_DISPLAY(display)) {
    // Opened for each question and stopped again: kept open, the compositor's
    // title and state events for every window would pile up unread between nudges.
    if (auto focused = WaylandFocusedOutput::open(display)) chosen = focused->monitor();
  }
  if (const auto centre = chosen ? std::nullopt : activeWindowCentre()) {
    for (int i = 0; i < count && !chosen; ++i) {
      GdkMonitor* monitor = gdk_display_get_monitor(display, i);
      GdkRectangle g;
      gdk_monitor_get_geometry(monitor, &g);
      if (centre->first >= g.x && centre->first < g.x + g.width && centre->second >= g.y &&
          centre->second < g.y + g.height) {
        chosen = monitor;
      }
    }
  }
  if (!chosen) chosen = gdk_display_get_primary_monitor(display);
  if (!chosen) chosen = gdk_display_get_monitor(display, 0);
  GdkRectangle geometry, workarea;
  gdk_monitor_get_geometry(chosen, &geometry);
  gdk_monitor_get_workarea(chosen, &workarea);
  const int height = screenSpaceHeight();
  return Screen{fromGdk(geometry, height), fromGdk(workarea, height)};
}

std::unique_ptr<PanelWindow> GtkOverlayPlatform::createPanelWindow(Rect frame) {
  return std::make_unique<GtkPanelWindow>(loop_, frame, relatedView_);
}

void GtkOverlayPlatform::setRelatedWebView(GtkWidget* view) {
  if (relatedView_) g_object_remove_weak_pointer(G_OBJECT(relatedView_), (gpointer*)&relatedView_);
  relatedView_ = view;
  if (relatedView_) g_object_add_weak_pointer(G_OBJECT(relatedView_), (gpointer*)&relatedView_);
}

GtkOverlayPlatform::~GtkOverlayPlatform() { setRelatedWebView(nullptr); }

std::unique_ptr<DimWindow> GtkOverlayPlatform::createDimWindow(Rect frame) {
  return std::make_unique<GtkDimWindow>(loop_, frame);
}

std::optional<std::string> GtkOverlayPlatform::resourcePath(const std::string& fileName) {
  return findDataFile(fileName);
}

}  // namespace pilvo::overlay
