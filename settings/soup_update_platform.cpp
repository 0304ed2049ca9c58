#include "settings/soup_update_platform.h"

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <memory>

#include "settings/appcast.h"

namespace pilvo::settings {
namespace {

constexpr const char* kOpenPageAction = "open-update-page";
constexpr gsize kReadChunk = gsize{64} * 1024;

void onOpenPage(GSimpleAction*, GVariant* parameter, gpointer) {
  // The application's actions are reachable on the session bus: open web pages only.
  const char* uri = g_variant_get_string(parameter, nullptr);
  if (!isWebAddress(uri)) return;
  GError* error = nullptr;
  if (!g_app_info_launch_default_for_uri(uri, nullptr, &error)) {
    g_warning("Tavik: ERROR - cannot open %s: %s", uri, error->message);
    g_error_free(error);
  }
}

std::string sizeText(size_t bytes) {
  constexpr size_t kMiB = size_t{1024} * 1024;
  return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB"
                           : std::to_string(bytes) + " bytes";
}

// One fetch, redirects included; deletes itself after answering once.
struct Fetch {
  SoupSession* session;
  FetchLimits limits;
  std::function<void(FeedResponse)> done;
  std::string url;
  int redirects = 0;
  GCancellable* cancellable = g_cancellable_new();
  guint timeout = 0;
  bool timedOut = false;
  SoupMessage* message = nullptr;
  GInputStream* stream = nullptr;
  std::string body;

  ~Fetch() {
    if (timeout) g_source_remove(timeout);
    if (stream) g_object_unref(stream);
    if (message) g_object_unref(message);
    g_object_unref(cancellable);
    g_object_unref(session);
  }

  void finish(FeedResponse response) {
    auto callback = std::move(done);
    delete this;
    callback(std::move(response));
  }
  void fail(const std::string& why) { finish({"", why}); }
  std::string errorText(GError* error) {
    // Either our bound on the whole fetch or the session's on one read.
    const bool late = timedOut || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
    std::string text =
        late ? "no answer from " + url + " within " + std::to_string(limits.timeoutSeconds) + " s"
             : url + ": " + error->message;
    g_error_free(error);
    return text;
  }

  void start() {
    if (!isAllowedFeedUrl(url)) return fail("refused " + url + ": feeds must use HTTPS");
    if (message) g_clear_object(&message);
    message = soup_message_new("GET", url.c_str());
    if (!message) return fail("not a valid address: " + url);
    // Redirects are followed here, so each target is checked and counted.
    soup_message_add_flags(message, SOUP_MESSAGE_NO_REDIRECT);
    soup_session_send_async(session, message, G_PRIORITY_DEFAULT, cancellable, onSent, this);
  }

  static void onSent(GObject* source, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<Fetch*>(data);
    GError* error = nullptr;
    GInputStream* stream = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (!stream) return self->fail(self->errorText(error));
    self->stream = stream;
    const guint status = soup_message_get_status(self->message);
    if (SOUP_STATUS_IS_REDIRECTION(status)) {
      const char* location = soup_message_headers_get_one(
          soup_message_get_response_headers(self->message), "Location");
      if (!location) return self->fail(self->url + ": redirect without a target");
      if (++self->redirects > self->limits.maxRedirects) {
        return self->fail(self->url + ": more than " + std::to_string(self->limits.maxRedirects) +
                          " redirects");
      }
      char* next = g_uri_resolve_relative(self->url.c_str(), location, G_URI_FLAGS_NONE, nullptr);
      if (!next) return self->fail(self->url + ": redirect to an invalid address");
      self->url = next;
      g_free(next);
      g_clear_object(&self->stream);
      return self->start();
    }
    if (status != SOUP_STATUS_OK) {
      const char* reason = soup_message_get_reason_phrase(self->message);
      return self->fail(self->url + ": the server answered " + std::to_string(status) + " " +
                        (reason ? reason : ""));
    }
    const goffset length =
        soup_message_headers_get_content_length(soup_message_get_response_headers(self->message));
    if (length > 0 && static_cast<size_t>(length) > self->limits.maxBytes) {
      return self->fail(self->url + ": the feed is larger than " + sizeText(self->limits.maxBytes));
    }
    self->readMore();
  }

  void readMore() {
    g_input_stream_read_bytes_async(stream, kReadChunk, G_PRIORITY_DEFAULT, cancellable, onRead,
                                    this);
  }

  static void onRead(GObject* source, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<Fetch*>(data);
    GError* error = nullptr;
    GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (!bytes) return self->fail(self->errorText(error));
    gsize size = 0;
    const auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    if (size == 0) {
      g_bytes_unref(bytes);
      return self->finish({std::move(self->body), ""});
    }
    self->body.append(chunk, size);
    g_bytes_unref(bytes);
    if (self->body.size() > self->limits.maxBytes) {
      return self->fail(self->url + ": the feed is larger than " + sizeText(self->limits.maxBytes));
    }
    self->readMore();
  }

  static gboolean onTimeout(gpointer data) {
    auto* self = static_cast<Fetch*>(data);
    self->timeout = 0;
    self->timedOut = true;
    g_cancellable_cancel(self->cancellable);  // the pending step fails and answers
    return G_SOURCE_REMOVE;
  }
};

}  // namespace

bool isAllowedFeedUrl(const std::string& url) {
  GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) return false;
  const std::string scheme = g_uri_get_scheme(uri) ? g_uri_get_scheme(uri) : "";
  const std::string host = g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
  g_uri_unref(uri);
  if (g_ascii_strcasecmp(scheme.c_str(), "https") == 0) return !host.empty();
  if (g_ascii_strcasecmp(scheme.c_str(), "http") != 0) return false;
  if (g_ascii_strcasecmp(host.c_str(), "localhost") == 0 || host == "::1") return true;
  GInetAddress* address = g_inet_address_new_from_string(host.c_str());
  const bool loopback = address && g_inet_address_get_is_loopback(address);
  if (address) g_object_unref(address);
  return loopback;
}

SoupUpdatePlatform::SoupUpdatePlatform(GApplication* application, std::function<void()> quit,
                                       std::string userAgent, FetchLimits limits)
    : application_(application),
      quit_(std::move(quit)),
      limits_(limits),
      session_(soup_session_new_with_options("user-agent", userAgent.c_str(), "timeout",
                                             limits.timeoutSeconds, nullptr)) {
  if (application_) {
    GSimpleAction* open = g_simple_action_new(kOpenPageAction, G_VARIANT_TYPE_STRING);
    g_signal_connect(open, "activate", G_CALLBACK(onOpenPage), nullptr);
    g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(open));
    g_object_unref(open);
  }
}

SoupUpdatePlatform::~SoupUpdatePlatform() {
  if (application_) g_action_map_remove_action(G_ACTION_MAP(application_), kOpenPageAction);
  g_object_unref(session_);
}

void SoupUpdatePlatform::fetchFeed(const std::string& url, std::function<void(FeedResponse)> done) {
  auto* fetch =
      new Fetch{static_cast<SoupSession*>(g_object_ref(session_)), limits_, std::move(done), url};
  fetch->timeout = g_timeout_add_seconds(limits_.timeoutSeconds, Fetch::onTimeout, fetch);
  fetch->start();
}

void SoupUpdatePlatform::notify(const std::string& title, const std::string& body,
                                const std::string& pageUrl) {
  if (!application_) return;
  GNotification* notification = g_notification_new(title.c_str());
  g_notification_set_body(notification, body.c_str());
  if (!pageUrl.empty()) {
    const std::string action = std::string("app.") + kOpenPageAction;
    g_notification_set_default_action_and_target(notification, action.c_str(), "s",
                                                 pageUrl.c_str());
    g_notification_add_button_with_target(notification, "Open Release Notes", action.c_str(), "s",
                                          pageUrl.c_str());
  }
  g_application_send_notification(application_, kNotificationId, notification);
  g_object_unref(notification);
}

void SoupUpdatePlatform::showUpdateAvailable(const std::string& version,
                                             const std::string& pageUrl) {
  notify("Pilvo " + version + " is available",
         pageUrl.empty() ? "Install it with the means you installed Pilvo with."
                         : "Open the release notes to download it.",
         pageUrl);
}

void SoupUpdatePlatform::showUpToDate(const std::string& currentVersion) {
  notify("Pilvo is up to date", "Version " + currentVersion + " is the newest version.", "");
}

void SoupUpdatePlatform::showCheckFailed(const std::string& reason) {
  notify("Could not check for updates", reason, "");
}

void SoupUpdatePlatform::requestQuit() {
  if (quit_) quit_();
}

}  // namespace pilvo::settings
