#include "interface/interface_view.h"

#include <webkit2/webkit2.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "common/data_files.h"

namespace pilvo::interface {
namespace {

void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
  auto* bridge = static_cast<PageBridge*>(data);
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!value || !jsc_value_is_string(value)) return;
  gchar* text = jsc_value_to_string(value);
  if (text) bridge->receive(text);
  g_free(text);
}

std::optional<std::string> findResource(const std::string& fileName) {
  return findDataFile(fileName);
}

}  // namespace

std::optional<std::string> InterfaceView::pagePath() {
  const char* off = std::getenv(kNoInterfaceVariable);
  if (off && std::string(off) == "1") return std::nullopt;
  const char* page = std::getenv(kInterfacePageVariable);
  if (page && *page) {
    std::error_code error;
    if (std::filesystem::is_regular_file(page, error)) return std::string(page);
    return std::nullopt;
  }
  return findResource("ui/index.html");
}

InterfaceView::InterfaceView(std::string page, channels::LogSink log)
    : page_(std::move(page)), log_(std::move(log)) {
  const std::string dir = std::filesystem::path(page_).parent_path().string() + "/";
  gchar* dirUri = g_filename_to_uri(dir.c_str(), nullptr, nullptr);
  allowedPrefix_ = dirUri ? dirUri : "";
  g_free(dirUri);

  WebKitUserContentManager* content = webkit_user_content_manager_new();
  webView_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content));
  g_object_unref(content);
  g_object_ref_sink(webView_);
  WebKitSettings* settings = webkit_web_view_get_settings(webView_);
  // The page's modules are files beside it.
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  webkit_settings_set_enable_developer_extras(settings, std::getenv("PILVO_INSPECTOR") != nullptr);
  const GdkRGBA clear{0, 0, 0, 0};
  webkit_web_view_set_background_color(webView_, &clear);
  gtk_widget_set_hexpand(GTK_WIDGET(webView_), TRUE);
  gtk_widget_set_vexpand(GTK_WIDGET(webView_), TRUE);
  g_signal_connect(webView_, "load-changed", G_CALLBACK(onLoadChanged), this);
  g_signal_connect(webView_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
  g_signal_connect(webView_, "web-process-terminated", G_CALLBACK(onProcessTerminated), this);
}

InterfaceView::~InterfaceView() {
  g_signal_handlers_disconnect_by_data(webView_, this);
  if (bridge_) {
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(webView_),
                                         bridge_.get());
  }
  bridge_.reset();
  g_object_unref(webView_);
}

void InterfaceView::start(channels::BridgeServer& bridge, channels::HostMessenger& messenger) {
  bridge_ = std::make_unique<PageBridge>(
      bridge, messenger, [this](const std::string& script) { evaluate(script); }, log_);
  WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(webView_);
  const std::string signal =
      std::string("script-message-received::") + PageBridge::kMessageHandlerName;
  g_signal_connect(content, signal.c_str(), G_CALLBACK(onScriptMessage), bridge_.get());
  webkit_user_content_manager_register_script_message_handler(content,
                                                              PageBridge::kMessageHandlerName);
  gchar* uri = g_filename_to_uri(page_.c_str(), nullptr, nullptr);
  if (uri) webkit_web_view_load_uri(webView_, uri);
  g_free(uri);
}

void InterfaceView::evaluate(const std::string& script) {
  webkit_web_view_evaluate_javascript(webView_, script.data(), gssize(script.size()), nullptr,
                                      nullptr, nullptr, nullptr, nullptr);
}

void InterfaceView::onLoadChanged(WebKitWebView*, int event, gpointer data) {
  auto* self = static_cast<InterfaceView*>(data);
  if (!self->bridge_) return;
  // A new page is a new client: the old page's streams and host calls end.
  if (event == WEBKIT_LOAD_STARTED) self->bridge_->disconnect();
  if (event == WEBKIT_LOAD_COMMITTED) self->bridge_->connect();
}

gboolean InterfaceView::onDecidePolicy(WebKitWebView*, GObject* decision, int type, gpointer data) {
  auto* self = static_cast<InterfaceView*>(data);
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
      type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    return FALSE;
  }
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  const std::string target = uri ? uri : "";
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && !self->allowedPrefix_.empty() &&
      target.rfind(self->allowedPrefix_, 0) == 0) {
    return FALSE;  // the interface's own pages
  }
  if (self->log_) self->log_("interface: navigation to \"" + target + "\" refused");
  webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
  return TRUE;
}

gboolean InterfaceView::onProcessTerminated(WebKitWebView* view, int, gpointer data) {
  auto* self = static_cast<InterfaceView*>(data);
  if (self->bridge_) self->bridge_->disconnect();
  if (!self->restarts_.allow(RestartBudget::Clock::now())) {
    if (self->log_) {
      self->log_("interface: the web process keeps ending; the interface stays off until Pilvo "
                 "is started again");
    }
    if (self->stopped_) self->stopped_();
    return FALSE;
  }
  if (self->log_) self->log_("interface: the web process ended; loading the interface again");
  webkit_web_view_reload(view);
  return FALSE;
}

}  // namespace pilvo::interface
