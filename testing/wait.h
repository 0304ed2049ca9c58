// The one bounded wait of the integration tests: poll, never block forever.
#pragma once

#include <glib.h>

#include <chrono>
#include <functional>
#include <thread>

namespace pilvo::testing {

// Polls `done` every 10 ms until it holds or `seconds` pass; true when it held.
inline bool waitUntil(const std::function<bool()>& done, double seconds = 10.0) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// The same, running the thread's default GLib main context meanwhile, so that
// a window, a D-Bus object or a timer in this process can do its part.
inline bool pumpUntil(const std::function<bool()>& done, double seconds = 10.0) {
  return waitUntil(
      [&] {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        return done();
      },
      seconds);
}

}  // namespace pilvo::testing
