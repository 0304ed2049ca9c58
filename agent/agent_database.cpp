#include "agent/agent_database.h"

#include <fcntl.h>
#include <unistd.h>

#include "agent/constants.h"
#include "common/private_files.h"
#include "common/timestamp.h"

namespace pilvo::agent {
namespace {

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS events (\n"
    "    id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "    timestamp TEXT NOT NULL,\n"
    "    type TEXT NOT NULL,\n"
    "    bundle_id TEXT,\n"
    "    window_title TEXT,\n"
    "    synced INTEGER DEFAULT 0\n"
    ");";
constexpr const char* kCreateSyncedIndex =
    "CREATE INDEX IF NOT EXISTS idx_events_synced ON events(synced)";
constexpr const char* kCreateTimestampIndex =
    "CREATE INDEX IF NOT EXISTS idx_events_timestamp ON events(timestamp)";
constexpr const char* kInsert =
    "INSERT INTO events (timestamp, type, bundle_id, window_title, synced) VALUES (?, ?, ?, ?, 0)";
constexpr const char* kPrune = "DELETE FROM events WHERE timestamp < ? AND synced = 1";

// Binds UTF-8 text with its full byte length, so text with an embedded NUL is
// stored whole rather than cut at the first zero byte.
void bindOptionalText(sqlite3_stmt* stmt, int index, const std::optional<std::string>& value) {
  if (value) {
    sqlite3_bind_text(stmt, index, value->data(), static_cast<int>(value->size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(stmt, index);
  }
}

}  // namespace

AgentDatabase::AgentDatabase(const std::string& supportDir, Logger& logger, const Clock& clock)
    : logger_(logger), clock_(clock) {
  open(supportDir);
}

void AgentDatabase::open(const std::string& supportDir) {
  if (std::string err = makePrivateDirectory(supportDir); !err.empty()) {
    throw AgentError::platform(err);
  }
  dbPath_ = supportDir + "/" + kDbFileName;
  logger_.log("Opening database at " + dbPath_);

  // Created 0600 before SQLite opens it: SQLite gives its -wal and -shm side
  // files the mode of the database file.
  if (const int fd = openPrivateFile(dbPath_, O_RDWR | O_CREAT | O_NOFOLLOW); fd >= 0) ::close(fd);
  sqlite3* handle = nullptr;
  if (sqlite3_open(dbPath_.c_str(), &handle) != SQLITE_OK) {
    const std::string message = handle ? sqlite3_errmsg(handle) : "out of memory";
    sqlite3_close(handle);  // sqlite3_open allocates a handle even when it fails
    throw AgentError::database("Failed to open database: " + message);
  }
  db_ = handle;
  // Without a busy timeout a reader marking rows as taken makes inserts fail
  // and events get lost; a short wait is the lesser evil.
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);

  exec("PRAGMA journal_mode=WAL");
  if (!exec(kCreateTable)) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw AgentError::database("Failed to create events table");
  }
  exec(kCreateSyncedIndex);
  exec(kCreateTimestampIndex);
  for (const char* suffix : {"", "-wal", "-shm"}) restrictToOwner(dbPath_ + suffix);
}

bool AgentDatabase::exec(const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK) return true;
  logger_.log("SQL error: " + std::string(error ? error : "unknown") + " (query: " +
              sql.substr(0, 120) + ")");
  sqlite3_free(error);
  return false;
}

void AgentDatabase::insertEvent(std::string_view type, const std::optional<std::string>& bundleId,
                                const std::optional<std::string>& windowTitle) {
  const std::string timestamp = formatTimestamp(clock_.now());
  sqlite3_stmt* stmt = nullptr;
  if (!db_ || sqlite3_prepare_v2(db_, kInsert, -1, &stmt, nullptr) != SQLITE_OK) {
    logger_.log("Failed to prepare insert statement");
    return;
  }
  sqlite3_bind_text(stmt, 1, timestamp.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 2, type.data(), static_cast<int>(type.size()), SQLITE_TRANSIENT);
  bindOptionalText(stmt, 3, bundleId);
  bindOptionalText(stmt, 4, windowTitle);
  if (sqlite3_step(stmt) != SQLITE_DONE) {
    logger_.log("Failed to insert event: " + std::string(type));
  }
  sqlite3_finalize(stmt);
}

void AgentDatabase::pruneOldEvents(int keepDays) {
  const auto cutoff = subtractLocalDays(clock_.now(), keepDays);
  if (!cutoff) return;
  const std::string cutoffText = formatTimestamp(*cutoff);
  sqlite3_stmt* stmt = nullptr;
  if (!db_ || sqlite3_prepare_v2(db_, kPrune, -1, &stmt, nullptr) != SQLITE_OK) {
    logger_.log("Failed to prepare prune statement");
    return;
  }
  sqlite3_bind_text(stmt, 1, cutoffText.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(stmt) != SQLITE_DONE) logger_.log("Failed to prune old events");
  sqlite3_finalize(stmt);
}

void AgentDatabase::close() {
  if (!db_) return;
  sqlite3_close(db_);
  db_ = nullptr;
  logger_.log("Database closed");
}

}  // namespace pilvo::agent
