// Time to prune 30 days out of a large event store, and insert cost.
//
//   agent_store_bench [rows]     (default 1,000,000)
//
// Builds a store of `rows` events spread evenly over the last 60 days, every
// row taken (synced = 1), then times one pruneOldEvents(30) - the daily job -
// and 10,000 single-row inserts as the agent makes them.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/agent_database.h"
#include "agent/constants.h"
#include "common/glib_event_loop.h"
#include "common/timestamp.h"

using namespace pilvo;
using Steady = std::chrono::steady_clock;

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  sqlite3_soft_heap_limit64(agent::kSqliteHeapLimitBytes);  // as pilvo-agent runs
  char dirTemplate[] = "/tmp/pilvo-bench-XXXXXX";
  const std::string dir = mkdtemp(dirTemplate);
  GlibEventLoop loop;
  agent::Logger logger(dir + "/bench.log", loop, nullptr);
  agent::AgentDatabase db(dir + "/pilvo", logger, loop);

  const auto now = std::chrono::system_clock::now();
  const double span = 60.0 * 86400.0;
  sqlite3* raw = nullptr;
  sqlite3_open(db.dbPath().c_str(), &raw);
  sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(raw,
                     "INSERT INTO events (timestamp, type, bundle_id, window_title, synced) "
                     "VALUES (?, 'windowChange', 'org.mozilla.firefox', 'A page title - Firefox', 1)",
                     -1, &ins, nullptr);
  for (long i = 0; i < rows; ++i) {
    const auto t = now - std::chrono::seconds(static_cast<long>(span * (rows - i) / rows));
    const std::string ts = formatTimestamp(t);
    sqlite3_bind_text(ins, 1, ts.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(ins);
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(raw);

  auto t0 = Steady::now();
  db.pruneOldEvents(30);
  const double pruneMs = std::chrono::duration<double, std::milli>(Steady::now() - t0).count();

  t0 = Steady::now();
  const int inserts = 10000;
  for (int i = 0; i < inserts; ++i) {
    db.insertEvent("appSwitch", std::string("org.gnome.TextEditor"), std::string("notes.txt"));
  }
  const double insertUs =
      std::chrono::duration<double, std::micro>(Steady::now() - t0).count() / inserts;

  sqlite3_open(db.dbPath().c_str(), &raw);
  sqlite3_stmt* count = nullptr;
  sqlite3_prepare_v2(raw, "SELECT count(*) FROM events", -1, &count, nullptr);
  sqlite3_step(count);
  const long left = sqlite3_column_int64(count, 0);
  sqlite3_finalize(count);
  sqlite3_close(raw);
  db.close();

  std::printf("rows before prune      %ld\n", rows);
  std::printf("rows after prune+10k   %ld\n", left);
  std::printf("prune 30 of 60 days    %.0f ms\n", pruneMs);
  std::printf("insert (one event)     %.1f us\n", insertUs);
  std::string cmd = "rm -rf '" + dir + "'";
  return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
