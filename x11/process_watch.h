// Notice when a process exits, without polling: a pidfd (Linux >= 5.3)
// becomes readable when its process ends, and the event loop watches it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "common/event_loop.h"

namespace pilvo::x11 {

// Calls `onExit` once, from the loop, when process `pid` exits. nullptr when
// no pidfd can be had (older kernel, seccomp, or the process is already gone);
// callers then rely on other signs of the end (the windows going away).
std::unique_ptr<EventSource> watchProcessExit(EventLoop& loop, int32_t pid,
                                              std::function<void()> onExit);

}  // namespace pilvo::x11
