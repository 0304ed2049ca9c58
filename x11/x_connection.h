// One connection to the X server, driven by the event loop.
//
// Errors: X protocol errors (BadWindow when a window vanishes between an
// event and a query, and the like) are recorded per connection and never
// reach Xlib's default handler, which would exit the process. Code that needs
// to know whether its requests failed uses ErrorTrap or getProperty's result.
//
// A lost display (the X server exits or the socket breaks): Xlib's I/O error
// path normally ends the process. Here the I/O error handler returns and the
// per-display exit handler (XSetIOErrorExitHandler, libX11 >= 1.7) marks the
// connection lost instead of exiting; Xlib calls then return without effect.
// The fd watch is dropped (no busy loop on a dead socket) and the display-lost
// handler runs once, from the event loop, so the owner can shut down in order
// and exit non-zero.
//
// Xlib's handlers are process-wide. A process that also uses GDK (the host)
// opens this connection after gtk_init(): errors and I/O errors of GDK's own
// display then still go to GDK's handlers, which ours chain to.
#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "common/event_loop.h"
#include "common/listener_list.h"
#include "x11/window_properties.h"

namespace pilvo::x11 {

class XConnection {
 public:
  // Opens `displayName` (empty: $DISPLAY). On failure returns nullptr and sets
  // `error` to a message that says what to do.
  static std::unique_ptr<XConnection> open(EventLoop& loop, const std::string& displayName,
                                           std::string* error);
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  Display* display() const { return display_; }
  Window root() const { return root_; }
  EventLoop& loop() const { return loop_; }
  Atom atom(const char* name);

  // Lost displays: see the file comment.
  bool lost() const { return lost_; }
  void setDisplayLostHandler(std::function<void()> handler) { lostHandler_ = std::move(handler); }

  // Every event read from the server goes to every handler, in registration
  // order, with the data of a generic (extension) event already fetched.
  // Handlers may add or remove handlers while being called.
  using EventHandler = std::function<void(XEvent& event)>;
  std::unique_ptr<EventSource> addEventHandler(EventHandler handler);

  // Reads everything the server sent and dispatches it. Runs from the fd watch;
  // tests and one-shot tools may call it directly.
  void dispatchPending();
  // Sends queued requests and, when replies to them brought events along,
  // arranges for those to be dispatched from the loop. Every entry point that
  // talks to the server outside dispatchPending() ends with this.
  void flush();

  // Reads a property. nullopt when it is absent, the window is gone (then
  // `*windowGone` is set) or the display is lost. `maxBytes` caps what is read.
  static constexpr long kMaxPropertyBytes = 16L << 20;
  std::optional<RawProperty> getProperty(Window window, Atom property, bool* windowGone = nullptr,
                                         long maxBytes = kMaxPropertyBytes);

  // Input masks on windows this client does not own, counted per bit so that
  // independent users (window list, title observers) can add and remove the
  // same mask without undoing each other. XSelectInput replaces a client's
  // whole mask, so all selection goes through here.
  void addInputMask(Window window, long mask);
  void removeInputMask(Window window, long mask);
  // Forgets a destroyed window's masks without talking to the server.
  void forgetWindow(Window window);
  long inputMask(Window window) const;

  // Records protocol errors of the requests made during its lifetime.
  class ErrorTrap {
   public:
    explicit ErrorTrap(XConnection& connection);
    // Waits for the server to process every request so far; true when one of
    // the requests made since construction failed (or the display is lost).
    bool failed();
    unsigned char errorCode() const { return errorCode_; }

   private:
    XConnection& connection_;
    unsigned long firstSerial_;
    unsigned char errorCode_ = 0;
  };

  // Error codes seen so far (for diagnostics and tests).
  unsigned long errorCount() const { return errorCount_; }

 private:
  XConnection(EventLoop& loop, Display* display);
  void start();
  void markLost();
  void scheduleDrain();
  bool onReadable(IoCondition condition);

  // Events handled per turn of the loop before other sources get a turn.
  static constexpr int kMaxEventsPerDispatch = 256;

  static int handleError(Display* display, XErrorEvent* event);
  static int handleIoError(Display* display);
  static void handleIoErrorExit(Display* display, void* data);

  EventLoop& loop_;
  Display* display_;
  Window root_;
  std::map<std::string, Atom> atoms_;
  ListenerList<EventHandler> handlers_;
  std::map<Window, std::map<int, int>> maskCounts_;
  std::unique_ptr<EventSource> fdWatch_;
  bool drainPosted_ = false;
  bool dispatching_ = false;
  bool lost_ = false;
  bool lostReported_ = false;
  std::function<void()> lostHandler_;
  unsigned long lastErrorSerial_ = 0;
  unsigned char lastErrorCode_ = 0;
  unsigned long errorCount_ = 0;
  std::shared_ptr<bool> alive_;
};

}  // namespace pilvo::x11
