// The agent's event store as the interface reads it: pages of rows after an
// id, and the one write the host may make, marking rows as taken ("synced")
// so the agent's prune may delete them. Nothing else in the store is ever
// written: reads use a read-only connection, the write connection runs one
// fixed statement under an authorizer that allows only that column.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace pilvo::interface {

inline constexpr int kDefaultPageSize = 1000;
inline constexpr int kMaxPageSize = 5000;
// How long a call waits for the agent's write lock before giving up.
inline constexpr int kStoreBusyTimeoutMs = 2000;

struct ActivityRow {
  int64_t id = 0;
  std::string timestamp;  // as stored: "2025-03-04T09:05:07Z"
  std::string type;       // "appSwitch", "windowChange", "idle", "active"
  std::optional<std::string> bundleId;
  std::optional<std::string> windowTitle;
  bool synced = false;
};

struct StoreError {
  std::string message;
};

class ActivityStore {
 public:
  // `path`: the agent's agent_events.db. It is never created here.
  explicit ActivityStore(std::string path, int busyTimeoutMs = kStoreBusyTimeoutMs);

  // $XDG_DATA_HOME/pilvo/agent_events.db
  static std::string defaultPath();

  // Up to `limit` rows with an id above `afterId`, ascending. No store (or no
  // table) yet: no rows.
  std::variant<std::vector<ActivityRow>, StoreError> eventsAfter(int64_t afterId, int limit) const;
  // The lowest id of a row stamped `since` or later (timestamps as stored
  // compare as text); none when there is no such row, or no store yet.
  std::variant<std::optional<int64_t>, StoreError> firstIdSince(const std::string& since) const;
  // Marks every row with an id up to `upToId` as synced; returns how many were
  // not marked before. No store yet: 0.
  std::variant<int64_t, StoreError> markSynced(int64_t upToId) const;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int busyTimeoutMs_;
};

}  // namespace pilvo::interface
