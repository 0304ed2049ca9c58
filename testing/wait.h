// The one bounded wait of the integration tests: poll, never block forever.
#pragma once

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

}  // namespace pilvo::testing
