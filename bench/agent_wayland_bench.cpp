// End-to-end measurements of a running pilvo-agent on a wlroots compositor
// (headless sway from scripts/with-sway-session.sh).
//
//   scripts/with-sway-session.sh build/bench/agent_wayland_bench build/agent/pilvo-agent [switches]
//   [seconds]
//
// 1. Latency from a focus command to the committed "appSwitch" row: two foot
//    windows of different applications take turns in front, each moved there
//    by a "focus" command on sway's IPC socket (sent directly, so no swaymsg
//    process start is measured); the clock stops when a reader connection
//    sees the new row.
// 2. CPU time and wakeups (context switches) of the agent over `seconds`
//    (default 60) of an untouched session, then over the same time of
//    continuous typing (wtype's virtual keyboard, one key every 10 ms).
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "bench/agent_bench_support.h"
#include "testing/sway_session.h"

using namespace pilvo::bench;

namespace {

// One command over sway's IPC socket (i3 IPC: magic, length, type 0 = RUN_COMMAND).
class SwayIpc {
 public:
  SwayIpc() {
    const char* path = std::getenv("SWAYSOCK");
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path ? path : "");
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~SwayIpc() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  bool run(const std::string& command) {
    std::string message = "i3-ipc";
    const uint32_t header[2] = {static_cast<uint32_t>(command.size()), 0};
    message.append(reinterpret_cast<const char*>(header), sizeof header);
    message += command;
    if (write(fd_, message.data(), message.size()) != static_cast<ssize_t>(message.size())) {
      return false;
    }
    char reply[14];
    if (!readAll(reply, sizeof reply)) return false;
    uint32_t length = 0;
    std::memcpy(&length, reply + 6, sizeof length);
    std::string body(length, '\0');
    return readAll(body.data(), length) && body.find("\"success\": true") != std::string::npos;
  }

 private:
  bool readAll(char* buffer, size_t size) {
    for (size_t got = 0; got < size;) {
      const ssize_t n = read(fd_, buffer + got, size - got);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  }
  int fd_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH/TO/pilvo-agent [switches] [seconds]\n", argv[0]);
    return 2;
  }
  if (const std::string missing = pilvo::testing::swaySessionMissing(); !missing.empty()) {
    std::fprintf(stderr, "%s\n", missing.c_str());
    return 2;
  }
  const int switches = argc > 2 ? std::atoi(argv[2]) : 10000;
  const double seconds = argc > 3 ? std::atof(argv[3]) : 60;
  char tmpl[] = "/tmp/pilvo-wayland-bench-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  pilvo::testing::FootWindow a(dir, "pilvo.bench.A", "bench a");
  pilvo::testing::FootWindow b(dir, "pilvo.bench.B", "bench b");
  SwayIpc ipc;
  if (!a.waitShown() || !b.waitShown() || !ipc.ok()) {
    std::fprintf(stderr, "foot windows or sway's IPC socket missing\n");
    return 1;
  }
  const std::string focusA = "[con_id=" + std::to_string(a.conId()) + "] focus";
  const std::string focusB = "[con_id=" + std::to_string(b.conId()) + "] focus";
  ipc.run(focusA);
  AgentUnderTest agent(argv[1]);
  if (!agent.db() || !agent.waitForId(1)) {
    std::fprintf(stderr, "the agent wrote no first row (see %s/agent.stderr)\n",
                 agent.dir().c_str());
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const long rssStart = statusField(agent.pid(), "VmRSS");

  std::vector<double> latencyMs;
  long long expectId = agent.maxId();
  for (int i = 0; i < switches; ++i) {
    const auto t0 = Steady::now();
    if (!ipc.run(i % 2 == 0 ? focusB : focusA)) {
      std::fprintf(stderr, "sway refused the focus command\n");
      return 1;
    }
    if (!agent.waitForId(++expectId)) {
      std::fprintf(stderr, "switch %d gave no row (agent log: %s/agent.stderr)\n", i,
                   agent.dir().c_str());
      return 1;
    }
    latencyMs.push_back(std::chrono::duration<double, std::milli>(Steady::now() - t0).count());
  }
  const long rssAfter = statusField(agent.pid(), "VmRSS");

  const Usage idle0 = usage(agent.pid());
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const Usage idle1 = usage(agent.pid());

  // Continuous typing: one key every 10 ms for `seconds`.
  const int keys = static_cast<int>(seconds * 100);
  const std::string text(static_cast<size_t>(keys), 'x');
  const Usage type0 = usage(agent.pid());
  const auto typeStart = Steady::now();
  const int typed = std::system(("wtype -d 10 " + text + " >/dev/null 2>&1").c_str());
  const double typedSeconds = std::chrono::duration<double>(Steady::now() - typeStart).count();
  const Usage type1 = usage(agent.pid());
  const int status = agent.stop();

  double sum = 0;
  for (double v : latencyMs) sum += v;
  std::printf("switches                          %d\n", switches);
  std::printf("focus -> row latency  median      %.2f ms\n", percentile(latencyMs, 0.5));
  std::printf("focus -> row latency  p99         %.2f ms\n", percentile(latencyMs, 0.99));
  std::printf("focus -> row latency  max         %.2f ms\n", percentile(latencyMs, 1.0));
  std::printf("focus -> row latency  mean        %.2f ms\n",
              sum / static_cast<double>(latencyMs.size()));
  std::printf("resident memory after start       %ld kB\n", rssStart);
  std::printf("resident memory after switches    %ld kB\n", rssAfter);
  std::printf("untouched %.0f s: cpu %.3f s (%.3f %%), wakeups %ld\n", seconds,
              idle1.cpu - idle0.cpu, 100 * (idle1.cpu - idle0.cpu) / seconds,
              idle1.wakeups - idle0.wakeups);
  std::printf("typing %.1f s (%d keys, wtype status %d): cpu %.3f s (%.3f %%), wakeups %ld\n",
              typedSeconds, keys, typed, type1.cpu - type0.cpu,
              100 * (type1.cpu - type0.cpu) / typedSeconds, type1.wakeups - type0.wakeups);
  std::printf("agent exit status                 %d\n", status);
  a.close();
  b.close();
  std::system(("rm -rf '" + dir + "'").c_str());
  return status == 0 ? 0 : 1;
}
