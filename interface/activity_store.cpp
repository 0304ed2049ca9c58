#include "interface/activity_store.h"

#include <glib.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "agent/constants.h"

namespace pilvo::interface {
namespace {

constexpr const char* kSelect =
    "SELECT id, timestamp, type, bundle_id, window_title, synced FROM events "
    "WHERE id > ? ORDER BY id LIMIT ?";
constexpr const char* kFirstIdSince = "SELECT MIN(id) FROM events WHERE timestamp >= ?";
constexpr const char* kMarkSynced =
    "UPDATE events SET synced = 1 WHERE id <= ? AND (synced IS NULL OR synced != 1)";

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
struct StmtFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

bool storeExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

StoreError errorOf(sqlite3* db, const std::string& what) {
  return {what + ": " + (db ? sqlite3_errmsg(db) : "out of memory")};
}

// The write connection may update the synced column of events and read what
// the statement needs; nothing else.
int onlySyncedColumn(void*, int action, const char* a, const char* b, const char*, const char*) {
  switch (action) {
    case SQLITE_UPDATE:
      return a && b && std::strcmp(a, "events") == 0 && std::strcmp(b, "synced") == 0 ? SQLITE_OK
                                                                                      : SQLITE_DENY;
    case SQLITE_READ:
    case SQLITE_SELECT:
    case SQLITE_TRANSACTION:
    case SQLITE_FUNCTION:
      return SQLITE_OK;
    default:
      return SQLITE_DENY;
  }
}

std::optional<std::string> textColumn(sqlite3_stmt* s, int column) {
  if (sqlite3_column_type(s, column) == SQLITE_NULL) return std::nullopt;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
  const int bytes = sqlite3_column_bytes(s, column);
  return std::string(text ? text : "", static_cast<size_t>(bytes));
}

bool noTable(sqlite3* db) { return std::strstr(sqlite3_errmsg(db), "no such table") != nullptr; }

// The store opened read-only, or null when there is none yet.
std::variant<Db, StoreError> openForReading(const std::string& path, int busyTimeoutMs) {
  if (!storeExists(path)) return Db();
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  Db db(raw);
  if (opened != SQLITE_OK) return errorOf(raw, "could not open the activity store");
  sqlite3_busy_timeout(raw, busyTimeoutMs);
  return db;
}

}  // namespace

ActivityStore::ActivityStore(std::string path, int busyTimeoutMs)
    : path_(std::move(path)), busyTimeoutMs_(busyTimeoutMs) {}

std::string ActivityStore::defaultPath() {
  return std::string(g_get_user_data_dir()) + "/" + agent::kSupportDirName + "/" +
         agent::kDbFileName;
}

std::variant<std::vector<ActivityRow>, StoreError> ActivityStore::eventsAfter(int64_t afterId,
                                                                              int limit) const {
  std::vector<ActivityRow> rows;
  auto opened = openForReading(path_, busyTimeoutMs_);
  if (auto* error = std::get_if<StoreError>(&opened)) return *error;
  sqlite3* raw = std::get<Db>(opened).get();
  if (!raw) return rows;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(raw, kSelect, -1, &stmt, nullptr) != SQLITE_OK) {
    if (noTable(raw)) return rows;  // the agent has not set the store up yet
    return errorOf(raw, "could not read the activity store");
  }
  Stmt select(stmt);
  sqlite3_bind_int64(stmt, 1, afterId);
  sqlite3_bind_int(stmt, 2, limit);
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
    ActivityRow row;
    row.id = sqlite3_column_int64(stmt, 0);
    row.timestamp = textColumn(stmt, 1).value_or("");
    row.type = textColumn(stmt, 2).value_or("");
    row.bundleId = textColumn(stmt, 3);
    row.windowTitle = textColumn(stmt, 4);
    row.synced = sqlite3_column_int64(stmt, 5) != 0;
    rows.push_back(std::move(row));
  }
  if (step != SQLITE_DONE) return errorOf(raw, "could not read the activity store");
  return rows;
}

std::variant<std::optional<int64_t>, StoreError> ActivityStore::firstIdSince(
    const std::string& since) const {
  auto opened = openForReading(path_, busyTimeoutMs_);
  if (auto* error = std::get_if<StoreError>(&opened)) return *error;
  sqlite3* raw = std::get<Db>(opened).get();
  if (!raw) return std::nullopt;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(raw, kFirstIdSince, -1, &stmt, nullptr) != SQLITE_OK) {
    if (noTable(raw)) return std::nullopt;
    return errorOf(raw, "could not read the activity store");
  }
  Stmt select(stmt);
  sqlite3_bind_text(stmt, 1, since.data(), static_cast<int>(since.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(stmt) != SQLITE_ROW) return errorOf(raw, "could not read the activity store");
  if (sqlite3_column_type(stmt, 0) == SQLITE_NULL) return std::nullopt;
  return std::optional<int64_t>(sqlite3_column_int64(stmt, 0));
}

std::variant<int64_t, StoreError> ActivityStore::markSynced(int64_t upToId) const {
  if (!storeExists(path_)) return int64_t{0};
  sqlite3* raw = nullptr;
  // Read-write but never create: a missing store stays missing.
  const int opened = sqlite3_open_v2(path_.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  Db db(raw);
  if (opened != SQLITE_OK) return errorOf(raw, "could not open the activity store");
  sqlite3_busy_timeout(raw, busyTimeoutMs_);
  sqlite3_set_authorizer(raw, onlySyncedColumn, nullptr);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(raw, kMarkSynced, -1, &stmt, nullptr) != SQLITE_OK) {
    if (noTable(raw)) return int64_t{0};
    return errorOf(raw, "could not update the activity store");
  }
  Stmt update(stmt);
  sqlite3_bind_int64(stmt, 1, upToId);
  if (sqlite3_step(stmt) != SQLITE_DONE) return errorOf(raw, "could not update the activity store");
  return static_cast<int64_t>(sqlite3_changes64(raw));
}

}  // namespace pilvo::interface
