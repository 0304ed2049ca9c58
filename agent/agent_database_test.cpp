#include "agent/agent_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <thread>

#include "agent/logger.h"
#include "testing/fake_event_loop.h"
#include "testing/temp_dir.h"

namespace pilvo::agent {
namespace {

using pilvo::testing::FakeEventLoop;
using pilvo::testing::TempDir;

struct Row {
  std::string timestamp, type;
  std::optional<std::string> bundleId, title;
  int synced;
};

std::optional<std::string> column(sqlite3_stmt* s, int i) {
  if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, i)),
                     static_cast<size_t>(sqlite3_column_bytes(s, i)));
}

std::vector<Row> readRows(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT timestamp, type, bundle_id, window_title, synced FROM events ORDER BY id",
                     -1, &s, nullptr);
  std::vector<Row> rows;
  while (sqlite3_step(s) == SQLITE_ROW) {
    rows.push_back({*column(s, 0), *column(s, 1), column(s, 2), column(s, 3),
                    sqlite3_column_int(s, 4)});
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return rows;
}

void execOn(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

class AgentDatabaseTest : public ::testing::Test {
 protected:
  std::string support() const { return dir_.file("data/pilvo"); }
  std::string logText() const { return pilvo::testing::readFile(dir_.file("agent.log")); }

  TempDir dir_;
  FakeEventLoop clock_;
  Logger logger_{dir_.file("agent.log"), clock_, nullptr};
};

TEST_F(AgentDatabaseTest, FirstOpenCreatesPrivateWalStoreAndReopenKeepsRows) {
  ::umask(022);
  {
    AgentDatabase db(support(), logger_, clock_);
    db.insertEvent("appSwitch", std::string("org.gnome.TextEditor"), std::string("notes.txt"));
    db.insertEvent("idle", std::nullopt, std::nullopt);
    EXPECT_EQ(pilvo::testing::fileMode(support()), 0700);
    EXPECT_EQ(pilvo::testing::fileMode(db.dbPath()), 0600);
    EXPECT_EQ(pilvo::testing::fileMode(db.dbPath() + "-wal"), 0600);
    EXPECT_EQ(pilvo::testing::fileMode(db.dbPath() + "-shm"), 0600);
    db.close();
  }
  AgentDatabase again(support(), logger_, clock_);
  again.insertEvent("active", std::nullopt, std::nullopt);
  again.close();

  auto rows = readRows(support() + "/agent_events.db");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].timestamp, "2025-03-04T09:05:07Z");
  EXPECT_EQ(rows[0].bundleId, "org.gnome.TextEditor");
  EXPECT_EQ(rows[0].title, "notes.txt");
  EXPECT_EQ(rows[1].bundleId, std::nullopt);
  EXPECT_EQ(rows[1].title, std::nullopt);
  EXPECT_EQ(rows[1].synced, 0);
  EXPECT_EQ(rows[2].type, "active");

  sqlite3* raw = nullptr;
  sqlite3_open(again.dbPath().c_str(), &raw);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(raw, "PRAGMA journal_mode", -1, &s, nullptr);
  sqlite3_step(s);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "wal");
  sqlite3_finalize(s);
  sqlite3_prepare_v2(raw, "SELECT count(*) FROM sqlite_master WHERE type='index' AND name LIKE 'idx_events_%'",
                     -1, &s, nullptr);
  sqlite3_step(s);
  EXPECT_EQ(sqlite3_column_int(s, 0), 2);
  sqlite3_finalize(s);
  sqlite3_close(raw);

  const std::string log = logText();
  EXPECT_NE(log.find("Opening database at " + support() + "/agent_events.db\n"), std::string::npos);
  EXPECT_NE(log.find("] Database closed\n"), std::string::npos);
}

TEST_F(AgentDatabaseTest, TitlesAreStoredByteForByte) {
  AgentDatabase db(support(), logger_, clock_);
  const std::vector<std::string> titles = {
      "it's \"quoted\"", "two\nlines", "\u05e9\u05dc\u05d5\u05dd \u2014 RTL", std::string("nul\0inside", 10),
      std::string(100 * 1024, 'x'), ""};
  for (const auto& t : titles) db.insertEvent("windowChange", std::string("app"), t);
  db.close();
  auto rows = readRows(db.dbPath());
  ASSERT_EQ(rows.size(), titles.size());
  for (size_t i = 0; i < titles.size(); ++i) EXPECT_EQ(rows[i].title, titles[i]) << i;
}

TEST_F(AgentDatabaseTest, InsertWaitsForAReaderHoldingTheWriteLock) {
  AgentDatabase db(support(), logger_, clock_);
  db.insertEvent("appSwitch", std::string("a"), std::nullopt);

  // Another process marks rows as taken in a short write transaction.
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(db.dbPath().c_str(), &reader), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN IMMEDIATE; UPDATE events SET synced = 1;", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  std::thread commitSoon([reader] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  });
  db.insertEvent("appSwitch", std::string("b"), std::nullopt);
  commitSoon.join();
  sqlite3_close(reader);
  db.close();

  auto rows = readRows(db.dbPath());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].bundleId, "b");
  EXPECT_EQ(logText().find("Failed to insert event"), std::string::npos);
}

TEST_F(AgentDatabaseTest, PruneDeletesOnlyTakenRowsOlderThanTheCutoff) {
  AgentDatabase db(support(), logger_, clock_);
  execOn(db.dbPath(),
         "INSERT INTO events (timestamp, type, synced) VALUES"
         " ('2025-02-01T09:05:07Z', 'idle', 1),"   // 31 days old, taken: goes
         " ('2025-02-03T09:05:07Z', 'idle', 1),"   // 29 days old, taken: stays
         " ('2020-01-01T00:00:00Z', 'idle', 0),"   // ancient but not taken: stays
         " ('2025-02-02T09:05:08Z', 'idle', 1)");  // one second inside the window: stays
  db.pruneOldEvents(30);
  db.close();
  auto rows = readRows(db.dbPath());
  std::vector<std::string> left;
  for (auto& r : rows) left.push_back(r.timestamp);
  EXPECT_EQ(left, (std::vector<std::string>{"2025-02-03T09:05:07Z", "2020-01-01T00:00:00Z",
                                            "2025-02-02T09:05:08Z"}));
}

TEST_F(AgentDatabaseTest, OpenFailuresDescribeTheCause) {
  // The support path is a file.
  pilvo::testing::writeFile(dir_.file("blocked"), "");
  try {
    AgentDatabase db(dir_.file("blocked"), logger_, clock_);
    FAIL() << "opened a store below a file";
  } catch (const AgentError& e) {
    EXPECT_EQ(e.kind(), AgentError::Kind::kPlatform);
    EXPECT_NE(e.description().find("Not a directory"), std::string::npos) << e.description();
  }
  // The database path is taken by a directory.
  ASSERT_EQ(::mkdir(dir_.file("s").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(dir_.file("s/agent_events.db").c_str(), 0700), 0);
  try {
    AgentDatabase db(dir_.file("s"), logger_, clock_);
    FAIL() << "opened a directory as a store";
  } catch (const AgentError& e) {
    EXPECT_EQ(e.description(), "database(\"Failed to open database: unable to open database file\")");
  }
  // A file that is not a database: table creation fails.
  ASSERT_EQ(::mkdir(dir_.file("t").c_str(), 0700), 0);
  pilvo::testing::writeFile(dir_.file("t/agent_events.db"), std::string(4096, 'z'));
  try {
    AgentDatabase db(dir_.file("t"), logger_, clock_);
    FAIL() << "opened garbage as a store";
  } catch (const AgentError& e) {
    EXPECT_EQ(e.description(), "database(\"Failed to create events table\")");
  }
  EXPECT_NE(logText().find("SQL error: file is not a database (query: CREATE TABLE IF NOT EXISTS events (\n"),
            std::string::npos);
}

TEST_F(AgentDatabaseTest, SqlErrorLineShowsOnlyTheFirst120CharactersOfTheStatement) {
  AgentDatabase db(support(), logger_, clock_);
  const std::string sql = "SELECT " + std::string(200, 'q') + " FROM nowhere";
  EXPECT_FALSE(db.exec(sql));
  const std::string log = logText();
  EXPECT_NE(log.find("] SQL error: "), std::string::npos) << log;
  EXPECT_NE(log.find(" (query: " + sql.substr(0, 120) + ")\n"), std::string::npos) << log;
  db.close();
  db.close();  // closing twice logs once
  size_t count = 0;
  for (size_t p = 0; (p = logText().find("Database closed", p)) != std::string::npos; ++p) ++count;
  EXPECT_EQ(count, 1u);
}

}  // namespace
}  // namespace pilvo::agent
