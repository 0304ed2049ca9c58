// Helpers for tests that run against a real X server (under
// scripts/with-x-session.sh): a client that owns test windows, and bounded
// waits that turn the GLib loop.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/glib_event_loop.h"

namespace pilvo::x11::testing {

// Windows of a pretend application, on a connection of their own.
class TestClient {
 public:
  TestClient();
  ~TestClient();
  bool ok() const { return display_ != nullptr; }
  Display* display() const { return display_; }

  // A mapped top-level window with WM_CLASS given as raw bytes
  // (instance NUL class NUL), _NET_WM_NAME (UTF8_STRING) when `netName` is
  // set, WM_NAME (STRING) when `wmName` is set.
  // `transientFor` sets WM_TRANSIENT_FOR before mapping, as toolkits do.
  Window createWindow(const std::string& wmClassBytes, std::optional<std::string> netName,
                      std::optional<std::string> wmName = std::nullopt, Window transientFor = None);
  void setText(Window window, const char* property, const char* type, const std::string& bytes);
  void setAtoms(Window window, const char* property, const std::vector<const char*>& atoms);
  void deleteProperty(Window window, const char* property);
  // Asks the window manager to activate `window` as a pager would.
  void requestActivation(Window window);
  // Destroys a window this client created (others are ignored).
  void destroy(Window window);
  void destroyAll();
  void sync();

 private:
  Display* display_;
  std::vector<Window> windows_;
};

// WM_CLASS bytes for instance and class.
std::string wmClass(const std::string& instance, const std::string& className);

// Waits until a window manager manages new windows (it may still be starting
// on a busy machine); false after `timeout`.
bool waitForWindowManager(std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Waits, on the client's own connection, until the window manager has made
// `window` the active window; false after `timeout`.
bool waitForActiveWindow(TestClient& client, Window window,
                         std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Turns `loop` (the thread-default GLib context) until `condition` holds or
// `timeout` passes; returns whether it holds. Never blocks longer than 20 ms
// at a time.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Runs whatever is ready on the thread-default context, without blocking.
void runReady();
// Runs a program to completion; returns its exit status (-1 when it could not run).
int runProgram(const std::vector<std::string>& argv);

}  // namespace pilvo::x11::testing
