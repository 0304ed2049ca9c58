// The main window: title-less and translucent, with a sidebar button at the
// leading edge of the title bar. It remembers its frame under
// "MainWindowFrame" and closing it only hides it. The content area shows the
// interface's web view (showInterface); without one it says how an interface
// process connects over the socket bridge.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "channels/flutter_engine.h"
#include "host/defaults_store.h"
#include "host/host_log.h"
#include "host/host_plugins.h"
#include "host/window_frame.h"
#include "interface/interface_view.h"

namespace pilvo::host {

inline constexpr const char* kToggleSidebarName = "Toggle Sidebar";

struct BridgeState {
  std::string socketPath;
  size_t clients = 0;
  std::string error;  // why the bridge is not running; empty when it is
};

class MainFlutterWindow {
 public:
  // `application` may be null (tests). `engine` and `defaults` must outlive
  // the window.
  MainFlutterWindow(GtkApplication* application, channels::FlutterEngine& engine,
                    DefaultsStore& defaults, HostLogSink log);
  ~MainFlutterWindow();
  MainFlutterWindow(const MainFlutterWindow&) = delete;
  MainFlutterWindow& operator=(const MainFlutterWindow&) = delete;

  // Start-up: the standard plugins, the host's plugins and the sidebar channel
  // in their order, then the window set-up (sidebar button, style, minimum
  // size, frame, translucency). The window is not shown yet.
  void awakeFromNib(const HostServices& services);

  // Stores the frame and hides the window; the close button does the same.
  void close();
  // Shows the window (again, where it was when closed) and brings it forward.
  void present(guint32 timestamp = GDK_CURRENT_TIME);

  // The content area's account of the bridge: where interfaces connect, how
  // many are connected, and why the bridge is not running. The owner calls it
  // whenever the bridge reports a change.
  void setBridgeState(const BridgeState& state);

  // The content area becomes the interface's web view showing `page`; the
  // page loads once startInterface() connects it to the bridge.
  void showInterface(const std::string& page);
  void startInterface(channels::BridgeServer& bridge);
  // Null unless showInterface() was called.
  interface::InterfaceView* interfaceView() const {
    return interface_.get();
  }

  GtkWindow* window() const { return GTK_WINDOW(window_); }
  GtkWidget* sidebarButton() const { return sidebarButton_; }
  // What the content area says, its lines joined by newlines.
  std::string contentText() const;
  const std::shared_ptr<channels::FlutterMethodChannel>& sidebarChannel() const {
    return sidebarChannel_;
  }
  // Where the window is, in stored form.
  WindowFrame currentFrame();
  ScreenLayout screenLayout() const;
  // The work area of the monitor the window is on (before it is shown: where
  // it is asked to appear, else the primary monitor).
  ScreenRect currentWorkarea() const;
  // Room the title bar, the decorations' border and a window-manager frame
  // take around the content.
  Decoration decorationSize() const;
  // The content's minimum size now in force.
  ContentSize minimumSize() const { return minimum_; }

 private:
  void setupSidebarButton();
  void toggleSidebar();
  void applyTranslucentStyle();
  void restoreFrame();
  ScreenRect currentPlace();
  // The minimum size where it fits the work area, else what fits; again
  // whenever the window is mapped or moves to another monitor, and whenever
  // monitors or the work area change.
  void updateMinimumSize();

  static gboolean onDeleteEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
  static void onSidebarClicked(GtkButton* button, gpointer self);
  static void onScreenChanged(GtkWidget* widget, GdkScreen* previous, gpointer self);
  static gboolean onMapEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean onConfigureEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
  static void onMonitorsChanged(GdkScreen* screen, gpointer self);
  static GdkFilterReturn onRootEvent(GdkXEvent* xevent, GdkEvent* event, gpointer self);

  channels::FlutterEngine& engine_;
  DefaultsStore& defaults_;
  HostLogSink log_;
  std::shared_ptr<channels::FlutterMethodChannel> sidebarChannel_;
  GtkWidget* window_ = nullptr;
  GtkWidget* headerBar_ = nullptr;
  GtkWidget* sidebarButton_ = nullptr;
  GtkWidget* content_ = nullptr;
  GtkWidget* status_ = nullptr;
  std::unique_ptr<interface::InterfaceView> interface_;
  bool interfaceStopped_ = false;
  GtkWidget* statusTitle_ = nullptr;
  GtkWidget* statusText_ = nullptr;
  GtkWidget* statusCommand_ = nullptr;
  // Where the window was when it was last closed; shown there again.
  std::optional<ScreenRect> closedPlace_;
  // Where the window is asked to appear when it is next mapped. Some window
  // managers place a new window by their own rules now and then; it is moved
  // once more when the map arrives.
  std::optional<ScreenRect> requestedPlace_;
  // GTK's position minus the window's origin on the server.
  std::pair<int, int> decorationOffset_{0, 0};
  ContentSize minimum_;
  // The monitor under the window at the last configure.
  GdkMonitor* monitor_ = nullptr;
  GdkScreen* screen_ = nullptr;
  GdkWindow* rootWindow_ = nullptr;
};

}  // namespace pilvo::host
