// Native Wayland clients and focus moves in the headless sway session of
// scripts/with-sway-session.sh, for the Wayland integration tests. Every wait
// is bounded.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "testing/shell.h"
#include "testing/wait.h"

namespace pilvo::testing {

inline std::string shellOutput(const std::string& cmd) { return runShell(cmd).output; }

inline int shellStatus(const std::string& cmd) {
  return std::system(("timeout 5 " + cmd + " >/dev/null 2>&1").c_str());
}

// Whether the test runs inside the sway session; the reason to skip when not.
inline std::string swaySessionMissing() {
  const char* sock = std::getenv("SWAYSOCK");
  const char* display = std::getenv("WAYLAND_DISPLAY");
  if (!sock || !*sock || !display || !*display) {
    return "no sway session; run through scripts/with-sway-session.sh (needs sway)";
  }
  return {};
}

// A foot terminal with a chosen app_id whose title the test sets through a FIFO
// (foot takes the OSC 2 sequence that the shell inside it prints).
class FootWindow {
 public:
  FootWindow(const std::string& dir, const std::string& appId, const std::string& title)
      : appId_(appId), title_(title) {
    static int counter = 0;
    fifo_ = dir + "/foot-title-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    mkfifo(fifo_.c_str(), 0600);
    const std::string script = "exec 3<>'" + fifo_ +
                               "'; while IFS= read -r t <&3; do printf '\\033]2;%s\\007' \"$t\"; "
                               "done";
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      const int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, STDOUT_FILENO);
      dup2(devnull, STDERR_FILENO);
      execlp("foot", "foot", "-a", appId.c_str(), "-T", title.c_str(), "sh", "-c", script.c_str(),
             nullptr);
      _exit(127);
    }
  }
  ~FootWindow() { close(); }
  FootWindow(const FootWindow&) = delete;
  FootWindow& operator=(const FootWindow&) = delete;

  // Waits until sway shows the window (and, being new, focuses it).
  bool waitShown(double seconds = 10) {
    return waitUntil([&] { return conId() != 0; }, seconds);
  }
  // sway's container id of this window, 0 when it has none (yet).
  long conId() const {
    const std::string out = shellOutput(
        "swaymsg -t get_tree | jq -r '.. | objects | select(.pid? == " + std::to_string(pid_) +
        ") | .id' 2>/dev/null | head -n1");
    return std::atol(out.c_str());
  }
  bool focus() {
    return shellStatus("swaymsg '[con_id=" + std::to_string(conId()) + "] focus'") == 0;
  }
  void setTitle(const std::string& title) {
    const int fd = open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) return;
    const std::string line = title + "\n";
    if (write(fd, line.data(), line.size()) < 0) {
      // the terminal is gone; the test's expectations say so
    }
    ::close(fd);
  }
  void close() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    kill(pid_, SIGTERM);
    waitUntil([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5);
    pid_ = -1;
    unlink(fifo_.c_str());
  }
  pid_t pid() const { return pid_; }

 private:
  std::string appId_;
  std::string title_;
  std::string fifo_;
  pid_t pid_ = -1;
};

// The app_id of the focused window in sway's tree; empty when none.
inline std::string swayFocusedAppId() {
  std::string out = shellOutput(
      "swaymsg -t get_tree | jq -r '.. | objects | select(.focused? == true) | .app_id // empty' "
      "2>/dev/null");
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

struct Shot {
  int width = 0;
  int height = 0;
  std::string rgb;
  // The red, green, blue of one pixel; {-1,-1,-1} outside.
  std::array<int, 3> at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {-1, -1, -1};
    const size_t i = (size_t(y) * width + x) * 3;
    return {uint8_t(rgb[i]), uint8_t(rgb[i + 1]), uint8_t(rgb[i + 2])};
  }
};

// The whole output as grim sees it (binary PPM).
inline Shot screenshot() {
  Shot shot;
  const std::string ppm = shellOutput("timeout 5 grim -t ppm - 2>/dev/null");
  int maxValue = 0, consumed = 0;
  if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &shot.width, &shot.height, &maxValue, &consumed) !=
          3 ||
      maxValue != 255) {
    return {};
  }
  shot.rgb = ppm.substr(size_t(consumed) + 1);
  if (shot.rgb.size() < size_t(shot.width) * shot.height * 3) return {};
  return shot;
}

}  // namespace pilvo::testing
