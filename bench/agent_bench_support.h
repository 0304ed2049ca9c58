// Shared pieces of the agent's end-to-end benchmarks: windows and activation
// requests, the agent process with its own data directories, a reader of the
// event store, and /proc figures of a process.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <glib.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pilvo::bench {

using Steady = std::chrono::steady_clock;

inline Window makeWindow(Display* dpy, const char* cls) {
  Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 100, 100, 0, 0, 0);
  XClassHint hint{const_cast<char*>(cls), const_cast<char*>(cls)};
  XSetClassHint(dpy, w, &hint);
  XStoreName(dpy, w, cls);
  XMapWindow(dpy, w);
  XSync(dpy, False);
  return w;
}

// What `xdotool windowactivate` sends: a _NET_ACTIVE_WINDOW request to the
// window manager, from a pager (source 2), which the window manager obeys at once.
inline void requestActivation(Display* dpy, Window w) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = 2;
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask,
             &ev);
  XFlush(dpy);
}

inline long statusField(pid_t pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
  }
  return -1;
}

// User + system CPU seconds and wakeups (context switches) of a process.
struct Usage {
  double cpu = 0;
  long wakeups = 0;
};
inline Usage usage(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> fields;
  for (size_t pos = stat.rfind(')') + 2; pos < stat.size();) {
    const size_t next = stat.find(' ', pos);
    fields.push_back(stat.substr(pos, next - pos));
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  Usage u;
  u.cpu = (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / ticks;
  u.wakeups = statusField(pid, "voluntary_ctxt_switches") + statusField(pid, "nonvoluntary_ctxt_switches");
  return u;
}

inline double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// A pilvo-agent recording into a fresh temporary directory.
class AgentUnderTest {
 public:
  explicit AgentUnderTest(const char* agentPath) {
    char tmpl[] = "/tmp/pilvo-agent-bench-XXXXXX";
    dir_ = mkdtemp(tmpl);
    pid_ = fork();
    if (pid_ == 0) {
      setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
      setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
      if (!freopen((dir_ + "/agent.stderr").c_str(), "w", stderr)) _exit(126);
      execl(agentPath, "pilvo-agent", nullptr);
      _exit(127);
    }
    const std::string path = dir_ + "/data/pilvo/agent_events.db";
    for (int i = 0; i < 250 && !db_; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) sqlite3_open(path.c_str(), &db_);
    }
  }
  ~AgentUnderTest() {
    if (pid_ > 0 && !stopped_) stop();
    sqlite3_close(db_);
    std::string rm = "rm -rf '" + dir_ + "'";
    if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir_.c_str());
  }

  // SIGTERM; returns the exit status.
  int stop() {
    stopped_ = true;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t pid() const { return pid_; }
  sqlite3* db() const { return db_; }
  const std::string& dir() const { return dir_; }

  long long maxId() const {
    sqlite3_stmt* s = nullptr;
    long long id = 0;
    if (sqlite3_prepare_v2(db_, "SELECT ifnull(max(id), 0) FROM events", -1, &s, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
      id = sqlite3_column_int64(s, 0);
    }
    sqlite3_finalize(s);
    return id;
  }
  bool waitForId(long long atLeast, double seconds = 5) const {
    const auto end = Steady::now() + std::chrono::duration<double>(seconds);
    while (Steady::now() < end) {
      if (maxId() >= atLeast) return true;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  sqlite3* db_ = nullptr;
  bool stopped_ = false;
};

// Two windows of two applications, the first brought to the front, and an
// agent that has recorded it. Exits with a message when either is missing.
struct BenchDesktop {
  BenchDesktop(const char* agentPath, const char* first, const char* second) {
    dpy = XOpenDisplay(nullptr);
    if (!dpy) {
      std::fprintf(stderr, "no X display: run through scripts/with-x-session.sh\n");
      std::exit(2);
    }
    a = makeWindow(dpy, first);
    b = makeWindow(dpy, second);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the window manager maps them
    requestActivation(dpy, a);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    agent = std::make_unique<AgentUnderTest>(agentPath);
    if (!agent->db() || !agent->waitForId(1)) {
      std::fprintf(stderr, "the agent wrote no first row (see %s/agent.stderr)\n",
                   agent->dir().c_str());
      std::exit(1);
    }
  }

  Display* dpy = nullptr;
  Window a = 0;
  Window b = 0;
  std::unique_ptr<AgentUnderTest> agent;
};

}  // namespace pilvo::bench
