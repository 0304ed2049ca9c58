#include "x11/x11_test_support.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <glib.h>
#include <unistd.h>

#include <algorithm>

namespace pilvo::x11::testing {

TestClient::TestClient() : display_(XOpenDisplay(nullptr)) {}

TestClient::~TestClient() {
  if (display_) XCloseDisplay(display_);  // destroys every window it still has
}

std::string wmClass(const std::string& instance, const std::string& className) {
  std::string bytes = instance;
  bytes.push_back('\0');
  bytes += className;
  bytes.push_back('\0');
  return bytes;
}

Window TestClient::createWindow(const std::string& wmClassBytes, std::optional<std::string> netName,
                                std::optional<std::string> wmName, Window transientFor) {
  const Window window =
      XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10, 200, 120, 0, 0, 0xffffff);
  XChangeProperty(display_, window, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(wmClassBytes.data()),
                  static_cast<int>(wmClassBytes.size()));
  if (netName) setText(window, "_NET_WM_NAME", "UTF8_STRING", *netName);
  if (wmName) setText(window, "WM_NAME", "STRING", *wmName);
  if (transientFor != None) XSetTransientForHint(display_, window, transientFor);
  const long pid = getpid();
  XChangeProperty(display_, window, XInternAtom(display_, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
  // User time 0: the window manager does not focus the window when it maps,
  // so focus moves only when a test asks for it.
  const long userTime = 0;
  XChangeProperty(display_, window, XInternAtom(display_, "_NET_WM_USER_TIME", False), XA_CARDINAL,
                  32, PropModeReplace, reinterpret_cast<const unsigned char*>(&userTime), 1);
  XMapWindow(display_, window);
  XSync(display_, False);
  windows_.push_back(window);
  return window;
}

void TestClient::setText(Window window, const char* property, const char* type,
                         const std::string& bytes) {
  XChangeProperty(display_, window, XInternAtom(display_, property, False),
                  XInternAtom(display_, type, False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(bytes.data()),
                  static_cast<int>(bytes.size()));
  XFlush(display_);
}

void TestClient::setAtoms(Window window, const char* property,
                          const std::vector<const char*>& atoms) {
  std::vector<long> items;
  for (const char* name : atoms)
    items.push_back(static_cast<long>(XInternAtom(display_, name, False)));
  XChangeProperty(display_, window, XInternAtom(display_, property, False), XA_ATOM, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(items.data()),
                  static_cast<int>(items.size()));
  XFlush(display_);
}

void TestClient::deleteProperty(Window window, const char* property) {
  XDeleteProperty(display_, window, XInternAtom(display_, property, False));
  XFlush(display_);
}

void TestClient::requestActivation(Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, DefaultRootWindow(display_), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XSync(display_, False);
}

void TestClient::destroy(Window window) {
  auto it = std::find(windows_.begin(), windows_.end(), window);
  if (it == windows_.end()) return;  // already gone
  windows_.erase(it);
  XDestroyWindow(display_, window);
  XSync(display_, False);
}

void TestClient::destroyAll() {
  while (!windows_.empty()) destroy(windows_.back());
}

void TestClient::sync() { XSync(display_, False); }

bool waitForWindowManager(std::chrono::milliseconds timeout) {
  TestClient client;
  if (!client.ok()) return false;
  Display* display = client.display();
  const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
  const Window probe = client.createWindow(wmClass("wm-probe", "WmProbe"), "probe");
  const auto listed = [&] {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(display, DefaultRootWindow(display), clientList, 0, 4096, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data) {
      const auto* windows = reinterpret_cast<const unsigned long*>(data);
      found = std::find(windows, windows + count, probe) != windows + count;
    }
    if (data) XFree(data);
    return found;
  };
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto remap = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!listed()) {
    const auto now = std::chrono::steady_clock::now();
    if (now > deadline) return false;
    if (now > remap) {
      // A window mapped while the window manager was still starting may never
      // be managed; mapping it again asks anew.
      XUnmapWindow(display, probe);
      XMapWindow(display, probe);
      XSync(display, False);
      remap = now + std::chrono::seconds(1);
    }
    g_usleep(20 * 1000);
  }
  return true;
}

bool waitForActiveWindow(TestClient& client, Window window, std::chrono::milliseconds timeout) {
  Display* display = client.display();
  const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    Window current = None;
    if (XGetWindowProperty(display, DefaultRootWindow(display), active, 0, 1, False, XA_WINDOW,
                           &type, &format, &count, &after, &data) == Success &&
        data && count == 1) {
      current = *reinterpret_cast<const unsigned long*>(data);
    }
    if (data) XFree(data);
    if (current == window) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    g_usleep(5 * 1000);
  }
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // A short tick so that a blocking iteration never outlasts the deadline by much.
  const guint tick = g_timeout_add(
      20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool met = condition();
  while (!met && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
    met = condition();
  }
  g_source_remove(tick);
  return met;
}

void runReady() {
  for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

int runProgram(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  gint status = 0;
  if (!g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                    nullptr, &status, nullptr)) {
    return -1;
  }
  return g_spawn_check_wait_status(status, nullptr) ? 0 : 1;
}

}  // namespace pilvo::x11::testing
