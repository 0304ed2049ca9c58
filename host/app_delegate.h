// The application: one instance per session under the id "com.pilvo.Pilvo"
// (starting `pilvo` again brings the running instance's window forward), the
// start-up of the window and every channel, the socket bridge, and a process
// that stays alive while its window is hidden.
//
// Desktop notifications: the notification server shows them whether or not
// Pilvo is in front, so nothing needs to be done for notifications to appear
// while the application is active; Pilvo never asks to suppress them.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "host/host_log.h"

namespace pilvo::host {

inline constexpr const char* kApplicationId = "com.pilvo.Pilvo";

class AppDelegate {
 public:
  explicit AppDelegate(HostLogSink log);
  ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // Runs the application; returns the process's exit status.
  int run(int argc, char** argv);

  // Closing (hiding) the main window never ends the process.
  static constexpr bool applicationShouldTerminateAfterLastWindowClosed() { return false; }

 private:
  struct State;
  void startup();
  void activate();
  void applicationDidFinishLaunching();
  void shutdown();

  static void onStartup(GApplication* application, gpointer self);
  static void onActivate(GApplication* application, gpointer self);
  static void onShutdown(GApplication* application, gpointer self);

  HostLogSink log_;
  GtkApplication* application_;
  std::unique_ptr<State> state_;
  int exitStatus_ = 0;
};

}  // namespace pilvo::host
