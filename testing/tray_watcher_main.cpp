// The desktop's tray for scripted tests: owns org.kde.StatusNotifierWatcher on
// the session bus until killed and prints, one line each as they happen,
//   registered BUS_NAME
//   icon BUS_NAME #RRGGBB OPACITY
// (the picture is read every 200 ms and printed when it changed).
#include <cstdio>
#include <map>

#include "testing/tray_watcher.h"

int main() {
  pilvo::testing::TrayWatcher watcher;
  std::map<std::string, std::pair<uint32_t, int>> seen;
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  struct State {
    pilvo::testing::TrayWatcher& watcher;
    std::map<std::string, std::pair<uint32_t, int>>& seen;
  } state{watcher, seen};
  g_timeout_add(
      200,
      [](gpointer data) -> gboolean {
        auto& s = *static_cast<State*>(data);
        for (const std::string& item : std::set<std::string>(s.watcher.registered)) {
          if (!s.seen.count(item)) std::printf("registered %s\n", item.c_str());
          const auto pixel = s.watcher.sample(item);
          auto [at, added] = s.seen.try_emplace(item, pixel);
          if (added || at->second != pixel) {
            at->second = pixel;
            std::printf("icon %s #%06X %d\n", item.c_str(), pixel.first, pixel.second);
          }
        }
        std::fflush(stdout);
        return G_SOURCE_CONTINUE;
      },
      &state);
  g_main_loop_run(loop);
}
