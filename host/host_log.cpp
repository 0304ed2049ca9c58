#include "host/host_log.h"

#include <glib.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace pilvo::host {

HostLogSink journalLogSink() {
  return [](HostLogLevel level, std::string_view text) {
    const std::string message(text);
    const bool error = level == HostLogLevel::kError;
    const char* priority = error ? "3" : "6";
    const GLogField fields[] = {
        {"MESSAGE", message.c_str(), -1},
        {"PRIORITY", priority, -1},
        {"SYSLOG_IDENTIFIER", "pilvo", -1},
        {"GLIB_DOMAIN", "pilvo", -1},
    };
    const GLogLevelFlags flags = error ? G_LOG_LEVEL_CRITICAL : G_LOG_LEVEL_INFO;
    const bool journaled =
        g_log_writer_journald(flags, fields, G_N_ELEMENTS(fields), nullptr) == G_LOG_WRITER_HANDLED;
    if (!journaled) {
      static const bool opened = [] {
        openlog("pilvo", LOG_PID, LOG_USER);
        return true;
      }();
      (void)opened;
      syslog(error ? LOG_ERR : LOG_INFO, "%s", message.c_str());
    }
    if (!g_log_writer_is_journald(fileno(stderr))) {
      std::fprintf(stderr, "pilvo: %s\n", message.c_str());
    }
  };
}

}  // namespace pilvo::host
