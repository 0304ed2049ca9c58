// The interface's web view: resources/ui/index.html in a WebKitGTK view, its
// channels carried by a PageBridge over a local bridge connection. The page
// keeps running while the window is hidden. Navigation never leaves the
// interface's own directory.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "channels/bridge_server.h"
#include "channels/host_messenger.h"
#include "common/restart_budget.h"
#include "interface/page_bridge.h"

typedef struct _WebKitWebView WebKitWebView;

namespace pilvo::interface {

// Set to 1, the main window shows its "No interface connected" view instead.
inline constexpr const char* kNoInterfaceVariable = "PILVO_NO_INTERFACE";
// Set, the page to load instead of the installed interface (tests).
inline constexpr const char* kInterfacePageVariable = "PILVO_INTERFACE_PAGE";

class InterfaceView {
 public:
  // The page to show: $PILVO_INTERFACE_PAGE, else ui/index.html of the
  // resources; nullopt when there is none or PILVO_NO_INTERFACE=1.
  static std::optional<std::string> pagePath();

  explicit InterfaceView(std::string page, channels::LogSink log);
  ~InterfaceView();
  InterfaceView(const InterfaceView&) = delete;
  InterfaceView& operator=(const InterfaceView&) = delete;

  GtkWidget* widget() const { return GTK_WIDGET(webView_); }

  // Connects the page to the bridge and loads it.
  void start(channels::BridgeServer& bridge, channels::HostMessenger& messenger);
  // Called once the web process has ended too often to be started again.
  void onStopped(std::function<void()> stopped) { stopped_ = std::move(stopped); }

 private:
  void evaluate(const std::string& script);
  static void onLoadChanged(WebKitWebView* view, int event, gpointer self);
  static gboolean onDecidePolicy(WebKitWebView* view, GObject* decision, int type, gpointer self);
  static gboolean onProcessTerminated(WebKitWebView* view, int reason, gpointer self);

  std::string page_;
  std::string allowedPrefix_;  // file URI of the page's directory
  channels::LogSink log_;
  WebKitWebView* webView_ = nullptr;
  std::unique_ptr<PageBridge> bridge_;
  RestartBudget restarts_ = webProcessRestartBudget();
  std::function<void()> stopped_;
};

}  // namespace pilvo::interface
