// Timestamp text shared by the agent's log and its event store:
// ISO 8601, UTC, whole seconds, "Z" suffix, always 20 characters.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace pilvo {

std::string formatTimestamp(std::chrono::system_clock::time_point t);

// The same wall-clock time `days` calendar days earlier in the local time zone
// (so a daylight-saving change in between keeps the local hour), or nullopt
// when the calendar cannot represent it.
std::optional<std::chrono::system_clock::time_point> subtractLocalDays(
    std::chrono::system_clock::time_point t, int days);

}  // namespace pilvo
