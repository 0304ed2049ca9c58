#include "x11/x_connection.h"

#include <glib.h>

namespace pilvo::x11 {
namespace {

// Xlib's handlers are process-wide; connections register here so the
// handlers can tell our displays from those of other code in the process
// (GDK in the host), whose errors go to the handler installed before ours.
std::map<Display*, XConnection*>& registry() {
  static std::map<Display*, XConnection*> connections;
  return connections;
}
XErrorHandler previousErrorHandler = nullptr;
XIOErrorHandler previousIoErrorHandler = nullptr;

}  // namespace

std::unique_ptr<XConnection> XConnection::open(EventLoop& loop, const std::string& displayName,
                                               std::string* error) {
  const char* name = displayName.empty() ? nullptr : displayName.c_str();
  Display* display = XOpenDisplay(name);
  if (!display) {
    if (error) {
      *error = std::string("cannot open X display '") + XDisplayName(name) +
               "' — is DISPLAY set and an X11 session running?";
    }
    return nullptr;
  }
  std::unique_ptr<XConnection> connection(new XConnection(loop, display));
  connection->start();
  return connection;
}

XConnection::XConnection(EventLoop& loop, Display* display)
    : loop_(loop),
      display_(display),
      root_(DefaultRootWindow(display)),
      alive_(std::make_shared<bool>(true)) {}

void XConnection::start() {
  // Installed once and kept: other connections may come later.
  static const bool installed = [] {
    previousErrorHandler = XSetErrorHandler(&XConnection::handleError);
    previousIoErrorHandler = XSetIOErrorHandler(&XConnection::handleIoError);
    return true;
  }();
  (void)installed;
  registry()[display_] = this;
  XSetIOErrorExitHandler(display_, &XConnection::handleIoErrorExit, this);
  fdWatch_ = loop_.addFd(ConnectionNumber(display_),
                         IoCondition::kRead | IoCondition::kHangup | IoCondition::kError,
                         [this](IoCondition condition) { return onReadable(condition); });
}

XConnection::~XConnection() {
  *alive_ = false;
  fdWatch_.reset();
  handlers_.clear();
  // Requests still queued (events unselected on the way out) may fail for
  // windows that closed meanwhile. Their errors must reach this connection's
  // handler: once it is unregistered, Xlib's default one ends the process.
  if (!lost_) XSync(display_, False);
  registry().erase(display_);
  // After an I/O error XCloseDisplay only frees memory; it does not talk to the server.
  XCloseDisplay(display_);
}

int XConnection::handleError(Display* display, XErrorEvent* event) {
  auto it = registry().find(display);
  if (it == registry().end()) {
    return previousErrorHandler ? previousErrorHandler(display, event) : 0;
  }
  XConnection* self = it->second;
  self->lastErrorSerial_ = event->serial;
  self->lastErrorCode_ = event->error_code;
  ++self->errorCount_;
  return 0;
}

int XConnection::handleIoError(Display* display) {
  if (!registry().contains(display) && previousIoErrorHandler) {
    return previousIoErrorHandler(display);
  }
  // Returning lets Xlib go on to the display's exit handler, which does not exit.
  return 0;
}

void XConnection::handleIoErrorExit(Display* display, void* data) {
  (void)display;
  static_cast<XConnection*>(data)->markLost();
}

void XConnection::markLost() {
  if (lost_) return;
  lost_ = true;
  // Report from the loop, never from inside the Xlib call that failed.
  loop_.post([this, alive = alive_] {
    if (!*alive || lostReported_) return;
    lostReported_ = true;
    fdWatch_.reset();
    if (lostHandler_) lostHandler_();
  });
}

Atom XConnection::atom(const char* name) {
  auto it = atoms_.find(name);
  if (it != atoms_.end()) return it->second;
  const Atom value = lost_ ? None : XInternAtom(display_, name, False);
  if (value != None) atoms_.emplace(name, value);
  return value;
}

std::unique_ptr<EventSource> XConnection::addEventHandler(EventHandler handler) {
  return handlers_.add(std::move(handler));
}

bool XConnection::onReadable(IoCondition condition) {
  dispatchPending();
  if (lost_) return false;
  if (hasCondition(condition, IoCondition::kHangup) ||
      hasCondition(condition, IoCondition::kError)) {
    // XPending normally notices a dead socket itself; make sure it is not polled again.
    markLost();
    return false;
  }
  return true;
}

void XConnection::dispatchPending() {
  drainPosted_ = false;
  dispatching_ = true;
  int handled = 0;
  // XPending flushes, and with libxcb underneath any write may read incoming
  // events off the socket into xcb's queue, where the fd watch no longer sees
  // them. So the loop only ends once a read-only check (which moves xcb's
  // queue into Xlib's without writing) finds nothing left.
  while (!lost_ && (XPending(display_) > 0 || XEventsQueued(display_, QueuedAfterReading) > 0)) {
    if (handled++ == kMaxEventsPerDispatch) {
      // A flood (a window renaming itself a thousand times a second) must not
      // starve timers and signals: let the loop run, then go on.
      scheduleDrain();
      break;
    }
    XEvent event;
    XNextEvent(display_, &event);
    // Extension data of generic events (XInput 2) is fetched once, here, and
    // freed after every handler has seen it.
    const bool cookie = event.type == GenericEvent && XGetEventData(display_, &event.xcookie);
    handlers_.forEach([&](EventHandler& handler) {
      if (!lost_) handler(event);
    });
    if (cookie) XFreeEventData(display_, &event.xcookie);
  }
  dispatching_ = false;
  if (!lost_) flush();
}

void XConnection::flush() {
  if (lost_) return;
  XFlush(display_);
  // Round trips and writes (this flush included) may have read events off the
  // socket into xcb's queue; the fd watch will not fire for them, and a missed
  // one stalls every later event until the server happens to send another. A
  // read-only check (it never writes, so it cannot pull in more unseen) moves
  // them into Xlib's queue and counts them.
  if (XEventsQueued(display_, QueuedAfterReading) > 0) scheduleDrain();
}

void XConnection::scheduleDrain() {
  if (drainPosted_) return;
  drainPosted_ = true;
  loop_.post([this, alive = alive_] {
    if (*alive && drainPosted_) dispatchPending();
  });
}

std::optional<RawProperty> XConnection::getProperty(Window window, Atom property, bool* windowGone,
                                                    long maxBytes) {
  if (windowGone) *windowGone = false;
  if (lost_ || window == None || property == None) return std::nullopt;
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  const unsigned long errorsBefore = errorCount_;
  const int status = XGetWindowProperty(display_, window, property, 0, (maxBytes + 3) / 4, False,
                                        AnyPropertyType, &type, &format, &count, &remaining, &data);
  // A read from a timer or other callback, outside dispatchPending, may have
  // pulled events in with the reply; make sure they are dispatched.
  if (!dispatching_) flush();
  if (status != Success) {
    if (windowGone && errorCount_ != errorsBefore && lastErrorCode_ == BadWindow) {
      *windowGone = true;
    }
    if (data) XFree(data);
    return std::nullopt;
  }
  if (type == None) {
    if (data) XFree(data);
    return std::nullopt;
  }
  RawProperty out;
  out.type = static_cast<uint32_t>(type);
  out.format = format;
  if (data) {
    if (format == 8) {
      out.bytes.assign(reinterpret_cast<const char*>(data), count);
    } else if (format == 16) {
      const auto* items = reinterpret_cast<const unsigned short*>(data);
      out.values.assign(items, items + count);
    } else if (format == 32) {
      // Xlib delivers 32-bit items as long, whatever the size of long.
      const auto* items = reinterpret_cast<const unsigned long*>(data);
      out.values.reserve(count);
      for (unsigned long i = 0; i < count; ++i) {
        out.values.push_back(static_cast<uint32_t>(items[i] & 0xFFFFFFFFUL));
      }
    }
    XFree(data);
  }
  return out;
}

void XConnection::addInputMask(Window window, long mask) {
  auto& counts = maskCounts_[window];
  const long before = inputMask(window);
  for (int bit = 0; bit < 25; ++bit) {
    if (mask & (1L << bit)) ++counts[bit];
  }
  const long after = inputMask(window);
  if (after != before && !lost_) XSelectInput(display_, window, after);
}

void XConnection::removeInputMask(Window window, long mask) {
  auto it = maskCounts_.find(window);
  if (it == maskCounts_.end()) return;
  const long before = inputMask(window);
  for (int bit = 0; bit < 25; ++bit) {
    if (!(mask & (1L << bit))) continue;
    auto count = it->second.find(bit);
    if (count == it->second.end()) continue;
    if (--count->second <= 0) it->second.erase(count);
  }
  const long after = inputMask(window);
  if (it->second.empty()) maskCounts_.erase(it);
  // A vanished window gives BadWindow here, which the error handler records.
  if (after != before && !lost_) XSelectInput(display_, window, after);
}

void XConnection::forgetWindow(Window window) { maskCounts_.erase(window); }

long XConnection::inputMask(Window window) const {
  auto it = maskCounts_.find(window);
  if (it == maskCounts_.end()) return NoEventMask;
  long mask = NoEventMask;
  for (const auto& [bit, count] : it->second) {
    if (count > 0) mask |= 1L << bit;
  }
  return mask;
}

XConnection::ErrorTrap::ErrorTrap(XConnection& connection)
    : connection_(connection),
      firstSerial_(connection.lost_ ? 0 : NextRequest(connection.display_)) {}

bool XConnection::ErrorTrap::failed() {
  if (connection_.lost_) return true;
  XSync(connection_.display_, False);
  if (connection_.lost_) return true;
  if (connection_.errorCount_ > 0 && connection_.lastErrorSerial_ >= firstSerial_) {
    errorCode_ = connection_.lastErrorCode_;
    return true;
  }
  return false;
}

}  // namespace pilvo::x11
