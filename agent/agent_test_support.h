// Reads the event store and the log the way the UI and a user would.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

namespace pilvo::agent::test {

struct EventRow {
  std::string type;
  std::optional<std::string> bundleId;
  std::optional<std::string> title;
  bool operator==(const EventRow&) const = default;
};

inline std::vector<EventRow> readEvents(const std::string& dbPath) {
  std::vector<EventRow> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT type, bundle_id, window_title FROM events ORDER BY id", -1, &s,
                       nullptr);
    auto text = [s](int i) -> std::optional<std::string> {
      if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
      return std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, i)),
                         static_cast<size_t>(sqlite3_column_bytes(s, i)));
    };
    while (s && sqlite3_step(s) == SQLITE_ROW) rows.push_back({*text(0), text(1), text(2)});
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return rows;
}

// The messages of the log, without their timestamps.
inline std::vector<std::string> logMessages(const std::string& log) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    out.push_back(line.size() > 23 ? line.substr(23) : line);
    start = end + 1;
  }
  return out;
}

}  // namespace pilvo::agent::test
