// The event store: one SQLite table, `events`, that the agent appends to and
// prunes, and that the desktop UI reads (marking taken rows `synced` = 1).
#pragma once

#include <sqlite3.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "agent/logger.h"
#include "common/event_loop.h"

namespace pilvo::agent {

// Why the store could not be opened. description() is what the fatal log line
// shows: `database("Failed to create events table")` for the store's own
// errors, the system's text for a support directory that cannot be created.
class AgentError : public std::runtime_error {
 public:
  static AgentError database(const std::string& message) {
    return AgentError("database(\"" + message + "\")");
  }
  static AgentError platform(const std::string& description) { return AgentError(description); }
  std::string description() const { return what(); }

 private:
  explicit AgentError(const std::string& text) : std::runtime_error(text) {}
};

class AgentDatabase {
 public:
  // How long an insert waits for a reader that holds the write lock.
  static constexpr int kBusyTimeoutMs = 2000;

  // Opens or creates `<supportDir>/agent_events.db`. Throws AgentError.
  AgentDatabase(const std::string& supportDir, Logger& logger, const Clock& clock);
  // Destroying does not close; only close() does.
  ~AgentDatabase() = default;
  AgentDatabase(const AgentDatabase&) = delete;
  AgentDatabase& operator=(const AgentDatabase&) = delete;

  bool exec(const std::string& sql);
  void insertEvent(std::string_view type, const std::optional<std::string>& bundleId,
                   const std::optional<std::string>& windowTitle);
  void pruneOldEvents(int keepDays);
  void close();

  bool isOpen() const { return db_ != nullptr; }
  const std::string& dbPath() const { return dbPath_; }

 private:
  void open(const std::string& supportDir);

  Logger& logger_;
  const Clock& clock_;
  sqlite3* db_ = nullptr;
  std::string dbPath_;
};

}  // namespace pilvo::agent
