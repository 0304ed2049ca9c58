#include "host/app_delegate.h"

#include <gdk/gdkx.h>

#include <csignal>
#include <vector>

#include "common/glib_event_loop.h"
#include "host/main_flutter_window.h"
#include "host/theme_icon_lookup.h"
#include "identity/desktop_entry_watcher.h"
#include "menubar/status_notifier_tray.h"
#include "overlay/gtk_overlay_platform.h"
#include "settings/build_info.h"
#include "settings/gtk_settings_platform.h"
#include "settings/soup_update_platform.h"
#include "tracking/gio_app_index_platform.h"
#include "tracking/x11_tracking_platform.h"
#ifdef PILVO_HAVE_WAYLAND
#include "tracking/wayland_tracking_platform.h"
#include "wayland/wayland_accessibility.h"
#include "wayland/wayland_connection.h"
#endif
#include "x11/x11_accessibility.h"
#include "x11/x11_desktop.h"
#include "x11/x_connection.h"

namespace pilvo::host {
struct AppDelegate::State {
  std::unique_ptr<GlibEventLoop> loop;
  std::unique_ptr<DefaultsStore> defaults;
  std::unique_ptr<DesktopEntryIndex> index;
  std::unique_ptr<DesktopEntryWatcher> entryWatcher;
  // The desktop: X11, or a Wayland compositor with the foreign-toplevel protocol.
  std::unique_ptr<x11::XConnection> connection;
  std::unique_ptr<x11::X11Desktop> desktop;
#ifdef PILVO_HAVE_WAYLAND
  std::unique_ptr<wayland::WaylandConnection> wayland;
#endif
  std::unique_ptr<Accessibility> accessibility;
  std::unique_ptr<tracking::TrackingPlatform> trackingPlatform;
  std::unique_ptr<tracking::GioAppIndexPlatform> appIndexPlatform;
  std::unique_ptr<overlay::GtkOverlayPlatform> overlayPlatform;
  std::unique_ptr<settings::GtkSettingsPlatform> settingsPlatform;
  std::unique_ptr<settings::SoupUpdatePlatform> updatePlatform;
  std::unique_ptr<menubar::StatusNotifierTray> tray;  // outlives the engine's menu bar item
  std::unique_ptr<channels::FlutterEngine> engine;
  std::unique_ptr<MainFlutterWindow> window;
  std::string bridgeError;
  std::vector<std::unique_ptr<EventSource>> sources;
  bool finishedLaunching = false;
};

AppDelegate::AppDelegate(HostLogSink log)
    : log_(std::move(log)),
      application_(gtk_application_new(kApplicationId, G_APPLICATION_DEFAULT_FLAGS)) {
  g_signal_connect(application_, "startup", G_CALLBACK(onStartup), this);
  g_signal_connect(application_, "activate", G_CALLBACK(onActivate), this);
  g_signal_connect(application_, "shutdown", G_CALLBACK(onShutdown), this);
}

AppDelegate::~AppDelegate() {
  state_.reset();
  g_object_unref(application_);
}

int AppDelegate::run(int argc, char** argv) {
  const int status = g_application_run(G_APPLICATION(application_), argc, argv);
  return status != 0 ? status : exitStatus_;
}

void AppDelegate::onStartup(GApplication*, gpointer self) {
  static_cast<AppDelegate*>(self)->startup();
}
void AppDelegate::onActivate(GApplication*, gpointer self) {
  static_cast<AppDelegate*>(self)->activate();
}
void AppDelegate::onShutdown(GApplication*, gpointer self) {
  static_cast<AppDelegate*>(self)->shutdown();
}

void AppDelegate::startup() {
  auto state = std::make_unique<State>();
  state->loop = std::make_unique<GlibEventLoop>();
  state->defaults = std::make_unique<DefaultsStore>(DefaultsStore::defaultPath());

  state->index = std::make_unique<DesktopEntryIndex>(DesktopEntryIndex::fromEnvironment());
  state->entryWatcher = std::make_unique<DesktopEntryWatcher>(*state->index, *state->loop);
  tracking::LaunchContextFactory launchContext = [] {
    GdkAppLaunchContext* context = gdk_display_get_app_launch_context(gdk_display_get_default());
    gdk_app_launch_context_set_timestamp(context, GDK_CURRENT_TIME);
    return G_APP_LAUNCH_CONTEXT(context);
  };
  tracking::LaunchErrorLog launchError = [log = log_](std::string_view text) {
    log(HostLogLevel::kError, "Tavik: ERROR - " + std::string(text));
  };

  // A Wayland session whose compositor lists toplevels: applications come
  // from the compositor. Else X11 (in a Wayland session, XWayland's view).
  const char* waylandDisplay = g_getenv("WAYLAND_DISPLAY");
  std::string waylandError;
#ifdef PILVO_HAVE_WAYLAND
  if (waylandDisplay && *waylandDisplay) {
    state->wayland =
        wayland::WaylandConnection::open(*state->loop, *state->index, "", &waylandError);
  }
  if (state->wayland) {
    log_(HostLogLevel::kInfo, "Tavik: Desktop: Wayland (" + std::string(waylandDisplay) + ")");
    state->wayland->setLostHandler([this] {
      log_(HostLogLevel::kError, "Tavik: ERROR - the Wayland compositor went away; Pilvo quits");
      exitStatus_ = 1;
      g_application_quit(G_APPLICATION(application_));
    });
    state->accessibility =
        std::make_unique<wayland::WaylandAccessibility>(state->wayland->toplevels());
    state->trackingPlatform = std::make_unique<tracking::WaylandTrackingPlatform>(
        *state->wayland, *state->index, kApplicationId, launchContext, launchError);
  }
#endif
  if (!state->trackingPlatform) {
    std::string error;
    state->connection = x11::XConnection::open(*state->loop, "", &error);
    if (!state->connection) {
      if (!waylandError.empty()) error += "; and Wayland: " + waylandError;
      log_(HostLogLevel::kError, "Tavik: ERROR - " + error);
      exitStatus_ = 1;
      g_application_quit(G_APPLICATION(application_));
      return;
    }
    if (waylandDisplay && *waylandDisplay) {
      log_(HostLogLevel::kInfo,
           "Tavik: Desktop: X11 in a Wayland session; native Wayland applications are not seen" +
               (waylandError.empty() ? std::string() : " (" + waylandError + ")"));
    }
    state->connection->setDisplayLostHandler([this] {
      log_(HostLogLevel::kError, "Tavik: ERROR - the X display went away; Pilvo quits");
      exitStatus_ = 1;
      g_application_quit(G_APPLICATION(application_));
    });
    state->desktop = std::make_unique<x11::X11Desktop>(*state->connection, *state->index);
    state->accessibility = std::make_unique<x11::X11Accessibility>(*state->desktop);
    state->trackingPlatform = std::make_unique<tracking::X11TrackingPlatform>(
        *state->desktop, *state->index, kApplicationId, launchContext, launchError);
  }

  state->appIndexPlatform =
      std::make_unique<tracking::GioAppIndexPlatform>(kApplicationId, lookupThemeIconFile);
  state->overlayPlatform = std::make_unique<overlay::GtkOverlayPlatform>(*state->loop);
  if (!GDK_IS_X11_DISPLAY(gdk_display_get_default())) {
    log_(HostLogLevel::kInfo, overlay::GtkOverlayPlatform::layerShell()
                                  ? "Tavik: Nudges: layer surfaces on the Wayland compositor"
                                  : "Tavik: Nudges are off: the Wayland compositor offers no layer "
                                    "shell (wlroots compositors such as sway do)");
  } else if (!overlay::GtkOverlayPlatform::composited()) {
    log_(HostLogLevel::kInfo,
         "Tavik: Screen dimming is off: no compositor is running (start one, e.g. picom, "
         "to dim the screen around nudges)");
  }
  state->settingsPlatform = std::make_unique<settings::GtkSettingsPlatform>(
      settings::GtkSettingsPlatform::defaultAutostartEntry(), [this]() -> GtkWindow* {
        // The dialog belongs to the main window while it is shown; else it stands alone.
        GtkWindow* main = state_ && state_->window ? state_->window->window() : nullptr;
        return main && gtk_widget_get_visible(GTK_WIDGET(main)) ? main : nullptr;
      });
  // "restartAndUpdate" quits the way the menu's Quit does; installing is the
  // package manager's or the user's work.
  state->updatePlatform = std::make_unique<settings::SoupUpdatePlatform>(
      G_APPLICATION(application_), [this] { g_application_quit(G_APPLICATION(application_)); },
      std::string("Pilvo/") + settings::kPilvoVersion);
  state->tray = std::make_unique<menubar::StatusNotifierTray>([log = log_](std::string_view text) {
    log(text.starts_with("Tavik: ERROR") ? HostLogLevel::kError : HostLogLevel::kInfo, text);
  });

  state->engine = std::make_unique<channels::FlutterEngine>(
      *state->loop, [log = log_](const std::string& line) {
        log(HostLogLevel::kError, "Tavik: ERROR - channels: " + line);
      });
  state->window =
      std::make_unique<MainFlutterWindow>(application_, *state->engine, *state->defaults, log_);
  if (std::optional<std::string> page = interface::InterfaceView::pagePath()) {
    state->window->showInterface(*page);
    // The nudge page shares the interface's web process.
    state->overlayPlatform->setRelatedWebView(GTK_WIDGET(state->window->interfaceView()->widget()));
  } else {
    log_(HostLogLevel::kInfo,
         "Tavik: The interface is not installed (or PILVO_NO_INTERFACE=1); interfaces connect "
         "over the socket");
  }
  state_ = std::move(state);

  HostServices services{state_->loop.get(), state_->trackingPlatform.get(),
                        state_->accessibility.get(), log_, state_->appIndexPlatform.get()};
  services.overlayPlatform = state_->overlayPlatform.get();
  services.settingsPlatform = state_->settingsPlatform.get();
  services.updatePlatform = state_->updatePlatform.get();
  services.trayPlatform = state_->tray.get();
  // "Open Pilvo" brings the main window forward; "Quit Pilvo" takes the same
  // way out as SIGTERM.
  services.appCommands.openMainWindow = [this] {
    if (state_ && state_->window) state_->window->present();
  };
  services.appCommands.quit = [this] { g_application_quit(G_APPLICATION(application_)); };
  state_->window->awakeFromNib(services);

  // Interfaces may connect once every channel exists.
  state_->bridgeError = state_->engine->startBridge();
  if (!state_->bridgeError.empty()) {
    log_(HostLogLevel::kError, "Tavik: ERROR - " + state_->bridgeError);
  }
  // The window's account of the bridge follows its connects and leaves.
  channels::BridgeServer* bridge = state_->engine->bridge();
  const std::string socketPath = bridge && !bridge->socketPath().empty()
                                     ? bridge->socketPath()
                                     : channels::defaultSocketPath();
  state_->window->setBridgeState({socketPath, 0, state_->bridgeError});
  if (bridge) state_->window->startInterface(*bridge);
  if (bridge) {
    bridge->setClientCountHandler([this, socketPath](size_t clients) {
      if (state_ && state_->window) {
        state_->window->setBridgeState({socketPath, clients, state_->bridgeError});
      }
    });
  }

  for (int signum : {SIGTERM, SIGINT}) {
    state_->sources.push_back(state_->loop->addSignal(
        signum, [this] { g_application_quit(G_APPLICATION(application_)); }));
  }
  applicationDidFinishLaunching();
}

void AppDelegate::applicationDidFinishLaunching() {
  // The process lives on with its window hidden; the menu bar item and a
  // second start bring the window back.
  if (!applicationShouldTerminateAfterLastWindowClosed()) {
    g_application_hold(G_APPLICATION(application_));
  }
  state_->finishedLaunching = true;
}

void AppDelegate::activate() {
  if (state_ && state_->window) state_->window->present();
}

void AppDelegate::shutdown() {
  if (!state_) return;
  // Sources and the bridge go before the window and the loop they run on.
  state_->sources.clear();
  // The interface's page leaves the bridge with the window: reset() clears
  // the pointer first, so the client-count handler finds no window to tell.
  state_->window.reset();
  state_->engine.reset();
  state_.reset();
}

}  // namespace pilvo::host
