#include "common/glib_event_loop.h"

#include <glib-unix.h>

#include <cmath>
#include <utility>

namespace pilvo {
namespace {

// Owns one attached GSource; destroying it detaches the source.
class GlibSource final : public EventSource {
 public:
  explicit GlibSource(GSource* source) : source_(source) {}
  ~GlibSource() override {
    g_source_destroy(source_);
    g_source_unref(source_);
  }
  GlibSource(const GlibSource&) = delete;
  GlibSource& operator=(const GlibSource&) = delete;

 private:
  GSource* source_;
};

template <typename F>
void destroyFunction(gpointer data) {
  delete static_cast<F*>(data);
}

std::unique_ptr<EventSource> attach(GSource* source, GMainContext* context) {
  g_source_attach(source, context);
  return std::make_unique<GlibSource>(source);
}

struct TimerData {
  std::function<void()> callback;
  bool repeating;
};

gboolean onTimer(gpointer data) {
  auto* timer = static_cast<TimerData*>(data);
  const bool repeating = timer->repeating;
  timer->callback();  // may destroy the source; `timer` stays valid until we return
  return repeating ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

gboolean onSignal(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_CONTINUE;
}

using FdCallback = std::function<bool(IoCondition)>;

gboolean onFd(gint /*fd*/, GIOCondition condition, gpointer data) {
  unsigned mask = 0;
  if (condition & G_IO_IN) mask |= static_cast<unsigned>(IoCondition::kRead);
  if (condition & G_IO_OUT) mask |= static_cast<unsigned>(IoCondition::kWrite);
  if (condition & G_IO_HUP) mask |= static_cast<unsigned>(IoCondition::kHangup);
  if (condition & (G_IO_ERR | G_IO_NVAL)) mask |= static_cast<unsigned>(IoCondition::kError);
  return (*static_cast<FdCallback*>(data))(static_cast<IoCondition>(mask)) ? G_SOURCE_CONTINUE
                                                                          : G_SOURCE_REMOVE;
}

gboolean onPosted(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_REMOVE;
}

}  // namespace

GlibEventLoop::GlibEventLoop(GMainContext* context)
    : context_(context ? g_main_context_ref(context) : g_main_context_ref_thread_default()),
      loop_(g_main_loop_new(context_, FALSE)) {}

GlibEventLoop::~GlibEventLoop() {
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
}

std::chrono::system_clock::time_point GlibEventLoop::now() const {
  return std::chrono::system_clock::now();
}

std::unique_ptr<EventSource> GlibEventLoop::addTimer(double intervalSeconds, bool repeating,
                                                     std::function<void()> callback) {
  const double ms = std::max(0.0, std::round(intervalSeconds * 1000.0));
  GSource* source = g_timeout_source_new(static_cast<guint>(ms));
  g_source_set_callback(source, onTimer, new TimerData{std::move(callback), repeating},
                        destroyFunction<TimerData>);
  return attach(source, context_);
}

std::unique_ptr<EventSource> GlibEventLoop::addSignal(int signum, std::function<void()> callback) {
  GSource* source = g_unix_signal_source_new(signum);
  g_source_set_callback(source, onSignal, new std::function<void()>(std::move(callback)),
                        destroyFunction<std::function<void()>>);
  return attach(source, context_);
}

std::unique_ptr<EventSource> GlibEventLoop::addFd(int fd, IoCondition conditions,
                                                  std::function<bool(IoCondition)> callback) {
  unsigned watch = G_IO_HUP | G_IO_ERR;
  if (hasCondition(conditions, IoCondition::kRead)) watch |= G_IO_IN;
  if (hasCondition(conditions, IoCondition::kWrite)) watch |= G_IO_OUT;
  GSource* source = g_unix_fd_source_new(fd, static_cast<GIOCondition>(watch));
  g_source_set_callback(source, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(onFd)),
                        new FdCallback(std::move(callback)), destroyFunction<FdCallback>);
  return attach(source, context_);
}

void GlibEventLoop::post(std::function<void()> fn) {
  // An idle source, never a direct call: posting from the loop's own thread
  // still runs `fn` later, after the caller has returned.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, onPosted, new std::function<void()>(std::move(fn)),
                        destroyFunction<std::function<void()>>);
  g_source_attach(source, context_);
  g_source_unref(source);
}

void GlibEventLoop::run() { g_main_loop_run(loop_); }

void GlibEventLoop::quit() { g_main_loop_quit(loop_); }

}  // namespace pilvo
