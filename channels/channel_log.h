// Where the channel layer reports programming errors (a result answered twice
// or never, an event sent after cancel) and bridge trouble. Never aborts.
#pragma once

#include <functional>
#include <string>

namespace pilvo::channels {

using LogSink = std::function<void(const std::string& line)>;

// Writes "pilvo channels: <line>" to standard error.
LogSink stderrLogSink();

}  // namespace pilvo::channels
