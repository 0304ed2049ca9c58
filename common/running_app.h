// A running application as the desktop shows it to Pilvo: the windows that
// share one identifier. A process id does not name an application on Linux:
// one process may serve several applications (office suites, browser web-app
// windows) and one application may run as several processes (terminals,
// browser profiles).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pilvo {

enum class ActivationPolicy { kRegular = 0, kAccessory = 1, kProhibited = 2 };

struct RunningApp {
  // Desktop-file ID without ".desktop" (or the WM_CLASS fallback); absent when
  // the window gives nothing to name it by.
  std::optional<std::string> bundleId;
  // Localized desktop-entry name, else the WM_CLASS class; may be absent.
  std::optional<std::string> localizedName;
  // The process of `window` (one of the application's processes); 0 when it
  // is unknown.
  int32_t pid = 0;
  ActivationPolicy activationPolicy = ActivationPolicy::kRegular;
  // Platform handle of one of the application's windows (an X window id);
  // 0 when there is none.
  uint64_t window = 0;

  // Applications are the same when their identifiers are; windows that give
  // nothing to name them by are told apart by their process.
  bool sameApplication(const RunningApp& other) const {
    if (bundleId || other.bundleId) return bundleId == other.bundleId;
    return pid == other.pid;
  }
};

}  // namespace pilvo
