// The interface in the real host: time from starting `pilvo` to the page's
// first reply through channels.js, and the memory (PSS) of the host and its
// WebKit processes with the interface and a nudge page loaded, against the
// host without the interface.
//
//   scripts/with-x-session.sh build/bench/interface_bench build/host/pilvo
//     build/channels/pilvoctl [runs]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;
namespace fs = std::filesystem;

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// PSS in kB of one process (smaps_rollup), 0 when it is gone.
long pssKb(pid_t pid) {
  std::istringstream lines(readAll("/proc/" + std::to_string(pid) + "/smaps_rollup"));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Pss:", 0) == 0) return std::strtol(line.c_str() + 4, nullptr, 10);
  }
  return 0;
}

struct Process {
  pid_t pid;
  std::string name;
};

std::vector<Process> childrenOf(pid_t parent) {
  std::vector<Process> out;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = readAll("/proc/" + name + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    char state;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent) {
      out.push_back({static_cast<pid_t>(std::stoi(name)),
                     stat.substr(stat.find('(') + 1, close - stat.find('(') - 1)});
    }
  }
  return out;
}

struct Run {
  double launchToReplyMs = -1;
  double pageReplyMs = -1;
  long hostKb = 0;
  long webKb = 0;  // every WebKit child
  int webProcesses = 0;
};

Run runOnce(const std::string& pilvo, const std::string& pilvoctl, bool withInterface,
            const std::string& pageDir) {
  pilvo::testing::TempDir dir;
  const std::string root = dir.path();
  for (const char* sub : {"home", "config", "data", "run"})
    fs::create_directories(root + "/" + sub);
  setenv("HOME", (root + "/home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
  setenv("PILVO_NO_INTERFACE", withInterface ? "0" : "1", 1);
  setenv("PILVO_INTERFACE_PAGE", (pageDir + "/interface_bench_page.html").c_str(), 1);
  const std::string prefs = root + "/config/pilvo/interface.json";
  const std::string socket = root + "/run/pilvo/host.sock";

  Run run;
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen("/dev/null", "w", stderr)) _exit(126);
    execl(pilvo.c_str(), pilvo.c_str(), nullptr);
    _exit(127);
  }
  const auto deadline = start + std::chrono::seconds(30);
  while (Clock::now() < deadline) {
    if (withInterface) {
      Json seen = Json::parse(readAll(prefs), nullptr, false);
      if (seen.is_object() && seen.contains("firstReplyMs")) {
        run.launchToReplyMs =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        run.pageReplyMs = seen["firstReplyMs"].get<double>();
        break;
      }
    } else if (access(socket.c_str(), F_OK) == 0) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // A nudge on screen, then let things settle.
  const std::string show =
      pilvoctl + " --socket " + socket +
      " call com.tavik/overlay showOverlay '{\"message\":\"Back to focus?\",\"state\":\"alert\","
      "\"showButtons\":true,\"buttonsMode\":\"nudge\",\"durationSeconds\":60}' >/dev/null 2>&1";
  if (std::system(show.c_str()) != 0) std::fprintf(stderr, "showOverlay failed\n");
  std::this_thread::sleep_for(std::chrono::seconds(4));
  run.hostKb = pssKb(pid);
  for (const Process& child : childrenOf(pid)) {
    if (child.name.find("WebKit") == std::string::npos) continue;
    run.webKb += pssKb(child.pid);
    if (child.name.find("WebProces") != std::string::npos) ++run.webProcesses;
  }
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  return run;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: interface_bench PILVO PILVOCTL [RUNS]\n");
    return 2;
  }
  const std::string pilvo = fs::absolute(argv[1]);
  const std::string pilvoctl = fs::absolute(argv[2]);
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  // The bench page beside channels.js, as the interface's files lie.
  pilvo::testing::TempDir pages;
  const fs::path build = fs::path(pilvo).parent_path().parent_path();
  fs::copy_file(build / "resources/ui/channels.js", pages.file("channels.js"));
  fs::copy_file(fs::path(PILVO_BENCH_PAGE), pages.file("interface_bench_page.html"));

  std::vector<double> launch, page, total, host, web, bare;
  int webProcesses = 0;
  for (int i = 0; i < runs; ++i) {
    Run with = runOnce(pilvo, pilvoctl, true, pages.path());
    Run without = runOnce(pilvo, pilvoctl, false, pages.path());
    launch.push_back(with.launchToReplyMs);
    page.push_back(with.pageReplyMs);
    host.push_back(with.hostKb / 1024.0);
    web.push_back(with.webKb / 1024.0);
    total.push_back((with.hostKb + with.webKb) / 1024.0);
    bare.push_back((without.hostKb + without.webKb) / 1024.0);
    webProcesses = std::max(webProcesses, with.webProcesses);
    std::printf(
        "run %d: launch->reply %.0f ms, page %.0f ms, PSS host %.1f + web %.1f MB "
        "(%d web process(es)); without interface %.1f MB\n",
        i + 1, with.launchToReplyMs, with.pageReplyMs, with.hostKb / 1024.0, with.webKb / 1024.0,
        with.webProcesses, (without.hostKb + without.webKb) / 1024.0);
  }
  std::printf("\n| measure (median of %d) | result |\n|---|---|\n", runs);
  std::printf("| start of pilvo to the page's first reply | %.0f ms |\n", median(launch));
  std::printf("| page navigation start to first reply | %.0f ms |\n", median(page));
  std::printf("| PSS host / WebKit processes, interface + nudge shown | %.1f / %.1f MB |\n",
              median(host), median(web));
  std::printf("| PSS together | %.1f MB |\n", median(total));
  std::printf("| PSS together without the interface (nudge shown) | %.1f MB |\n", median(bare));
  std::printf("| web processes | %d |\n", webProcesses);
  return 0;
}
