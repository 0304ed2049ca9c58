// Window property values and the parsers that turn their raw bytes into
// values. Properties are untrusted: any client may write anything into them.
// The parsers take bytes and never touch the X server, so they are tested
// with data alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pilvo::x11 {

// One property as read: its type atom, format (8, 16 or 32) and contents.
// 8-bit data lands in `bytes`; 16- and 32-bit data in `values` (Xlib hands
// 32-bit items over as an array of long; they are narrowed to 32 bits here).
struct RawProperty {
  uint32_t type = 0;
  int format = 0;
  std::string bytes;
  std::vector<uint32_t> values;
};

struct WmClass {
  std::optional<std::string> instance;
  std::optional<std::string> className;
};

// WM_CLASS: two NUL-terminated strings, instance then class. A missing
// terminator, a missing class or trailing junk is tolerated. Bytes are
// returned as they are (the identity resolver repairs UTF-8).
WmClass parseWmClass(const RawProperty& property);

// The first 32-bit item, e.g. _NET_WM_PID, _NET_ACTIVE_WINDOW,
// WM_TRANSIENT_FOR. nullopt unless the format is 32 with at least one item.
std::optional<uint32_t> parseFirstCardinal(const RawProperty& property);

// A list of 32-bit items: _NET_CLIENT_LIST, _NET_WM_WINDOW_TYPE,
// _NET_WM_STATE. Empty unless the format is 32.
std::vector<uint32_t> parseCardinalList(const RawProperty& property);

// 8-bit text property as UTF-8 text: _NET_WM_NAME (whatever its type, since
// clients put UTF-8 into STRING too), _GTK_APPLICATION_ID and the like.
// Invalid sequences become U+FFFD; embedded NULs are kept.
std::optional<std::string> parseUtf8Text(const RawProperty& property);

// ISO 8859-1 (the STRING type) to UTF-8.
std::string latin1ToUtf8(std::string_view bytes);

// Atom numbers the classifiers below compare against; 0 = not interned.
struct WindowTypeAtoms {
  uint32_t normal = 0;
  uint32_t dialog = 0;
  uint32_t utility = 0;
  uint32_t dock = 0;
  uint32_t desktop = 0;
  uint32_t toolbar = 0;
  uint32_t menu = 0;
  uint32_t splash = 0;
  uint32_t skipTaskbar = 0;
};

// Whether the window is the desktop or a dock/panel (first known type of
// `types`, as for isTaskbarWindow): a click there is not using an application.
bool isDesktopOrDockWindow(const std::vector<uint32_t>& types, const WindowTypeAtoms& atoms);

// Whether the window makes its application a regular one: a normal window
// (or one without a type that is not transient) that does not skip the
// taskbar. `types` is _NET_WM_WINDOW_TYPE (first known type wins), `states`
// is _NET_WM_STATE.
bool isTaskbarWindow(const std::vector<uint32_t>& types, const std::vector<uint32_t>& states,
                     bool transient, const WindowTypeAtoms& atoms);

}  // namespace pilvo::x11
