// The agent's desktop platform on X11, opened in one step.
//
//   std::string error;
//   auto platform = pilvo::x11::X11Platform::open(loop, &error);
//   if (!platform) { log(error); return 1; }
//   platform->setDisplayLostHandler([&] { log(...); runShutdown(); exit code 2; });
//
// When the X server goes away, nothing exits inside Xlib: the handler runs
// once from the loop, after which every platform call answers "nothing"
// (no frontmost application, no titles, no observers) until the owner has
// shut down. See x_connection.h for how.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "agent/agent_platform.h"
#include "identity/desktop_entry_index.h"
#include "identity/desktop_entry_watcher.h"
#include "x11/x11_accessibility.h"
#include "x11/x11_desktop.h"
#include "x11/x11_input_idleness.h"
#include "x11/x11_workspace.h"
#include "x11/x_connection.h"

namespace pilvo::x11 {

class X11Platform {
 public:
  // Opens `displayName` (empty: $DISPLAY) and reads the installed desktop
  // entries from the XDG data directories, again whenever they change (the
  // new entries name windows that appear from then on). nullptr with `error`
  // set when the display cannot be opened.
  static std::unique_ptr<X11Platform> open(EventLoop& loop, std::string* error,
                                           const std::string& displayName = "");
  ~X11Platform();

  Workspace& workspace() { return *workspace_; }
  InputIdleness& idleness() { return *idleness_; }
  Accessibility& accessibility() { return *accessibility_; }
  X11Desktop& desktop() { return *desktop_; }
  XConnection& connection() { return *connection_; }

  // Runs once, from the loop, when the display connection is lost.
  void setDisplayLostHandler(std::function<void()> handler);
  bool displayLost() const { return connection_->lost(); }

  // Things that work less well than they should, for the log: no XInput 2.1
  // (idle time cannot be measured), no EWMH window manager (switches cannot be
  // seen until one runs). Empty when all is well.
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  X11Platform() = default;

  std::unique_ptr<DesktopEntryIndex> index_;
  std::unique_ptr<DesktopEntryWatcher> entryWatcher_;
  std::unique_ptr<XConnection> connection_;
  std::unique_ptr<X11Desktop> desktop_;
  std::unique_ptr<X11Workspace> workspace_;
  std::unique_ptr<X11InputIdleness> idleness_;
  std::unique_ptr<X11Accessibility> accessibility_;
  std::vector<std::string> warnings_;
};

}  // namespace pilvo::x11
