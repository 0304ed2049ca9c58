// Names a running application from the facts its top-level window gives.
// One resolver serves the agent and the host, so both name applications alike.
#pragma once

#include <optional>
#include <string>

#include "identity/desktop_entry_index.h"

namespace pilvo {

// Raw property values of one window, as untrusted bytes; absent or empty
// values count as not given. The caller has already followed WM_TRANSIENT_FOR
// to the parent window.
struct WindowFacts {
  std::optional<std::string> wmClassInstance;
  std::optional<std::string> wmClassClass;
  std::optional<std::string> gtkApplicationId;  // _GTK_APPLICATION_ID
  std::optional<std::string> kdeDesktopFile;    // _KDE_NET_WM_DESKTOP_FILE
};

struct AppIdentity {
  // Desktop-file ID without ".desktop", else the WM_CLASS class; absent when
  // the window gives nothing to name it by. Always valid UTF-8 without control
  // characters (any client can write these properties; a newline in one must
  // not start a new line where the identifier is logged).
  std::optional<std::string> bundleId;
  // The desktop entry's localized Name, else the WM_CLASS class.
  std::optional<std::string> localizedName;

  bool operator==(const AppIdentity&) const = default;
};

// Order: _GTK_APPLICATION_ID; _KDE_NET_WM_DESKTOP_FILE; the entry whose
// StartupWMClass equals the WM_CLASS instance, then the class; the entry whose
// ID equals the instance or the class ignoring case; the WM_CLASS class.
AppIdentity resolveAppIdentity(const WindowFacts& facts, const DesktopEntryIndex& index);

}  // namespace pilvo
