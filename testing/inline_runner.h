// Runs background work at once on the caller's thread, so a test sees the
// steps in order while the fake loop decides when main-loop work happens.
#pragma once

#include <functional>

#include "common/background_runner.h"

namespace pilvo::testing {

struct InlineRunner final : BackgroundRunner {
  void run(std::function<void()> job) override { job(); }
};

}  // namespace pilvo::testing
