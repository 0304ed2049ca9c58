// Reads the event store and the log the way the UI and a user would, and
// runs the real agent for the integration tests.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testing/temp_dir.h"
#include "testing/wait.h"

namespace pilvo::agent::test {

struct EventRow {
  std::string type;
  std::optional<std::string> bundleId;
  std::optional<std::string> title;
  bool operator==(const EventRow&) const = default;
};

inline std::optional<std::string> s(const char* v) { return std::string(v); }

// Rows one a line, for failure messages.
inline std::string describe(const std::vector<EventRow>& rows) {
  std::string out;
  for (const auto& r : rows) {
    out += r.type + " | " + r.bundleId.value_or("NULL") + " | " + r.title.value_or("NULL") + "\n";
  }
  return out;
}

inline size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

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

// A real agent process with its own environment and standard error file.
class AgentProcess {
 public:
  AgentProcess(const std::string& path, const std::vector<std::string>& env,
               const std::string& stderrPath) {
    pid_ = fork();
    if (pid_ == 0) {
      for (const auto& kv : env) putenv(const_cast<char*>(strdup(kv.c_str())));
      if (FILE* f = freopen(stderrPath.c_str(), "w", stderr); !f) _exit(126);
      execl(path.c_str(), "pilvo-agent", nullptr);
      _exit(127);
    }
  }
  ~AgentProcess() {
    if (running()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  bool running() { return pid_ > 0 && !status_ && !reap(); }
  // Sends `signum` and waits (bounded) for the exit status; -1 on timeout.
  int stop(int signum = SIGTERM) {
    kill(pid_, signum);
    return waitExit();
  }
  int waitExit(double seconds = 10) {
    pilvo::testing::waitUntil([&] { return reap(); }, seconds);
    return status_ ? *status_ : -1;
  }

 private:
  bool reap() {
    if (status_) return true;
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) != pid_) return false;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return true;
  }
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Whether the log shows the line `cause`, then the monitor stopping, then the
// store closing: the shutdown sequence, in its order.
inline bool shutDownInOrder(const std::string& log, const std::string& cause) {
  const size_t begun = log.find(cause + "\n");
  const size_t stopped = log.find("Monitor stopped\n");
  const size_t closed = log.find("Database closed\n");
  return begun != std::string::npos && begun < stopped && stopped < closed;
}

// Real agents started from `agentPath`, each test with its own HOME and XDG
// directories.
class AgentFixture : public ::testing::Test {
 protected:
  explicit AgentFixture(std::string agentPath) : agentPath_(std::move(agentPath)) {
    ::mkdir(home_.file("home").c_str(), 0700);
  }

  // What the agent needs of the desktop session, after the private directories.
  virtual std::vector<std::string> sessionEnv() const = 0;

  std::vector<std::string> env() const {
    std::vector<std::string> vars = {"HOME=" + home_.file("home"),
                                     "XDG_DATA_HOME=" + home_.file("data"),
                                     "XDG_STATE_HOME=" + home_.file("state")};
    const std::vector<std::string> session = sessionEnv();
    vars.insert(vars.end(), session.begin(), session.end());
    return vars;
  }
  std::string dbPath() const { return home_.file("data/pilvo/agent_events.db"); }
  std::string logPath() const { return home_.file("state/pilvo-agent.log"); }
  std::string stderrPath() const { return home_.file("stderr.txt"); }
  std::string log() const { return pilvo::testing::readFile(logPath()); }

  // Starts the agent (empty `path`: the one of the fixture) and, with
  // `waitRunning`, waits until it has entered its run loop.
  std::unique_ptr<AgentProcess> startAgent(bool waitRunning = true, const std::string& path = "") {
    const size_t runsBefore = count(log(), "entering run loop");
    auto agent =
        std::make_unique<AgentProcess>(path.empty() ? agentPath_ : path, env(), stderrPath());
    if (waitRunning) {
      EXPECT_TRUE(pilvo::testing::waitUntil([&] {
        return count(log(), "entering run loop") > runsBefore;
      })) << pilvo::testing::readFile(stderrPath());
    }
    return agent;
  }
  bool rowsBecome(const std::vector<EventRow>& expected, double seconds = 5) {
    return pilvo::testing::waitUntil([&] { return readEvents(dbPath()) == expected; }, seconds);
  }
  size_t rowCount() { return readEvents(dbPath()).size(); }

  const std::string agentPath_;
  pilvo::testing::TempDir home_;
};

}  // namespace pilvo::agent::test
