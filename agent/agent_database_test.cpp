#include "agent/agent_database.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "agent/agent_test_support.h"
#include "testing/fake_event_loop.h"
#include "testing/temp_dir.h"

namespace pilvo::agent {
namespace {

using pilvo::testing::fileMode;
using test::EventRow;
using test::readEvents;

std::optional<std::string> s(const char* v) { return std::string(v); }

// Runs one statement on its own connection, as another process would.
std::string queryText(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* st = nullptr;
  std::string out;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      if (!out.empty()) out += ",";
      out += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    }
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

class AgentDatabaseTest : public ::testing::Test {
 protected:
  std::string support() const { return dir_.file("data/pilvo"); }
  std::string logText() const { return pilvo::testing::readFile(dir_.file("agent.log")); }
  // Description of the error that opening a store at `supportDir` fails with.
  std::string openError(const std::string& supportDir) {
    try {
      AgentDatabase db(supportDir, logger_, clock_);
    } catch (const AgentError& e) {
      return e.description();
    }
    return "opened";
  }

  pilvo::testing::TempDir dir_;
  pilvo::testing::FakeEventLoop clock_;
  Logger logger_{dir_.file("agent.log"), clock_, nullptr};
};

TEST_F(AgentDatabaseTest, CreatesAPrivateWalStoreAndKeepsRowsAcrossReopens) {
  ::umask(022);
  {
    AgentDatabase db(support(), logger_, clock_);
    db.insertEvent("appSwitch", s("org.gnome.TextEditor"), s("notes.txt"));
    db.insertEvent("idle", std::nullopt, std::nullopt);
    for (const char* suffix : {"", "-wal", "-shm"}) EXPECT_EQ(fileMode(db.dbPath() + suffix), 0600);
    EXPECT_EQ(fileMode(support()), 0700);
    db.close();
  }
  AgentDatabase again(support(), logger_, clock_);
  again.insertEvent("active", std::nullopt, std::nullopt);
  again.close();

  EXPECT_EQ(readEvents(again.dbPath()),
            (std::vector<EventRow>{{"appSwitch", s("org.gnome.TextEditor"), s("notes.txt")},
                                   {"idle", std::nullopt, std::nullopt},
                                   {"active", std::nullopt, std::nullopt}}));
  EXPECT_EQ(queryText(again.dbPath(), "SELECT DISTINCT timestamp || '/' || synced FROM events"),
            "2025-03-04T09:05:07Z/0");
  EXPECT_EQ(queryText(again.dbPath(), "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(queryText(again.dbPath(), "SELECT name FROM sqlite_master WHERE type='index' ORDER BY name"),
            "idx_events_synced,idx_events_timestamp");
  EXPECT_NE(logText().find("] Opening database at " + again.dbPath() + "\n"), std::string::npos);
}

TEST_F(AgentDatabaseTest, TitlesAreStoredByteForByte) {
  AgentDatabase db(support(), logger_, clock_);
  const std::vector<std::string> titles = {"it's \"quoted\"", "two\nlines", "\u05e9\u05dc\u05d5\u05dd \u2014 RTL",
                                           std::string("nul\0inside", 10), std::string(100 * 1024, 'x'), ""};
  for (const auto& t : titles) db.insertEvent("windowChange", s("app"), t);
  db.close();
  auto rows = readEvents(db.dbPath());
  ASSERT_EQ(rows.size(), titles.size());
  for (size_t i = 0; i < titles.size(); ++i) EXPECT_EQ(rows[i].title, titles[i]) << i;
}

TEST_F(AgentDatabaseTest, InsertWaitsForAReaderHoldingTheWriteLock) {
  AgentDatabase db(support(), logger_, clock_);
  // The UI marks rows as taken in a short write transaction while the agent inserts.
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(db.dbPath().c_str(), &reader), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN IMMEDIATE; UPDATE events SET synced = 1;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::thread commitSoon([reader] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  });
  db.insertEvent("appSwitch", s("b"), std::nullopt);
  commitSoon.join();
  sqlite3_close(reader);
  db.close();
  EXPECT_EQ(readEvents(db.dbPath()).size(), 1u);
  EXPECT_EQ(logText().find("Failed to insert event"), std::string::npos);
}

TEST_F(AgentDatabaseTest, PruneDeletesOnlyTakenRowsOlderThanTheCutoff) {
  AgentDatabase db(support(), logger_, clock_);
  db.exec("INSERT INTO events (timestamp, type, synced) VALUES"
          " ('2025-02-01T09:05:07Z', 'idle', 1),"   // 31 days old, taken: goes
          " ('2025-02-03T09:05:07Z', 'idle', 1),"   // 29 days old, taken: stays
          " ('2020-01-01T00:00:00Z', 'idle', 0),"   // ancient but not taken: stays
          " ('2025-02-02T09:05:08Z', 'idle', 1)");  // a second inside the window: stays
  db.pruneOldEvents(30);
  db.close();
  EXPECT_EQ(queryText(db.dbPath(), "SELECT timestamp FROM events ORDER BY id"),
            "2025-02-03T09:05:07Z,2020-01-01T00:00:00Z,2025-02-02T09:05:08Z");
}

TEST_F(AgentDatabaseTest, FailuresAreDescribedAndLoggedNeverThrownAtTheCaller) {
  pilvo::testing::writeFile(dir_.file("file"), "");
  EXPECT_NE(openError(dir_.file("file")).find("Not a directory"), std::string::npos);
  ::mkdir(dir_.file("d").c_str(), 0700);
  ::mkdir(dir_.file("d/agent_events.db").c_str(), 0700);
  EXPECT_EQ(openError(dir_.file("d")), "database(\"Failed to open database: unable to open database file\")");
  ::mkdir(dir_.file("g").c_str(), 0700);
  pilvo::testing::writeFile(dir_.file("g/agent_events.db"), std::string(4096, 'z'));
  EXPECT_EQ(openError(dir_.file("g")), "database(\"Failed to create events table\")");

  AgentDatabase db(support(), logger_, clock_);
  const std::string sql = "SELECT " + std::string(200, 'q') + " FROM nowhere";
  EXPECT_FALSE(db.exec(sql));
  EXPECT_NE(logText().find(" (query: " + sql.substr(0, 120) + ")\n"), std::string::npos);
  db.close();
  db.insertEvent("idle", std::nullopt, std::nullopt);  // after close: logged, dropped
  db.close();
  const std::string log = logText();
  EXPECT_NE(log.find("] Failed to prepare insert statement\n"), std::string::npos);
  EXPECT_EQ(log.find("Database closed"), log.rfind("Database closed")) << "closing twice logs once";
}

}  // namespace
}  // namespace pilvo::agent
