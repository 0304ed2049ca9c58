// A running application as the desktop shows it to Pilvo: the windows that
// share one identifier and one process.
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
  // 0 when the process is unknown.
  int32_t pid = 0;
  ActivationPolicy activationPolicy = ActivationPolicy::kRegular;
  // Platform handle of one of the application's windows (an X window id);
  // 0 when there is none. Two RunningApps are the same application when their
  // bundleId and pid match.
  uint64_t window = 0;

  bool sameApplication(const RunningApp& other) const {
    return bundleId == other.bundleId && pid == other.pid;
  }
};

}  // namespace pilvo
