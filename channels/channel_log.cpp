#include "channels/channel_log.h"

#include <cstdio>

namespace pilvo::channels {

LogSink stderrLogSink() {
  return
      [](const std::string& line) { std::fprintf(stderr, "pilvo channels: %s\n", line.c_str()); };
}

}  // namespace pilvo::channels
