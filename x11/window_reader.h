// Reads what Pilvo needs to know about one window from the X server. Every
// read tolerates a window that vanished meanwhile (BadWindow): it reports the
// window gone instead of failing.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "identity/app_identity.h"
#include "x11/x_connection.h"

namespace pilvo::x11 {

struct WindowIdentityFacts {
  // The window whose properties name the application: the window itself, or
  // the end of its WM_TRANSIENT_FOR chain.
  Window owner = None;
  bool transient = false;
  WindowFacts facts;
  int32_t pid = 0;  // 0 when unknown
  bool gone = false;
};

class WindowReader {
 public:
  explicit WindowReader(XConnection& connection);

  WindowIdentityFacts identityFacts(Window window);
  // _NET_WM_NAME, else WM_NAME, as valid UTF-8; nullopt when the window has
  // no title or is gone.
  std::optional<std::string> title(Window window, bool* gone = nullptr);
  bool hasNetWmName(Window window);
  // The window counts towards a regular (taskbar) application.
  bool isTaskbarWindow(Window window, bool transient);
  // The desktop, a dock or a panel: never the front application.
  bool isDesktopOrDock(Window window);

  std::vector<Window> clientList();
  Window activeWindow();
  // Process id by X-Resource client ids, else _NET_WM_PID; 0 when unknown.
  int32_t processId(Window window);

  Atom netWmName() const { return netWmName_; }
  Atom wmName() const { return wmName_; }

 private:
  std::optional<Window> transientFor(Window window, bool* gone);
  std::optional<std::string> decodeWmName(const RawProperty& property);

  XConnection& connection_;
  bool xresClientIds_ = false;
  Atom netWmName_, wmName_, utf8String_, compoundText_, wmClass_, wmTransientFor_, netWmPid_,
      gtkApplicationId_, kdeDesktopFile_, netClientList_, netActiveWindow_, netWmWindowType_,
      netWmState_;
  WindowTypeAtoms typeAtoms_;
};

}  // namespace pilvo::x11
