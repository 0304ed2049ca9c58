// Where the host's log lines go: the journal (or syslog) under the identifier
// "pilvo", with the text unchanged ("Tavik: ...", errors "Tavik: ERROR - ...").
// Everything that logs takes a HostLogSink, so tests capture the lines.
#pragma once

#include <functional>
#include <string_view>

namespace pilvo::host {

enum class HostLogLevel { kInfo, kError };

using HostLogSink = std::function<void(HostLogLevel level, std::string_view text)>;

// Writes to the systemd journal with SYSLOG_IDENTIFIER=pilvo when it runs,
// else to syslog as "pilvo"; also to standard error unless standard error is
// the journal already.
HostLogSink journalLogSink();

}  // namespace pilvo::host
