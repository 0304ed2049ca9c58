// The tray menu of a running pilvo, worked the way a tray host and a user do:
// a StatusNotifierItem Activate over D-Bus, then keys typed into the menu.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "testing/shell.h"
#include "testing/wait.h"

namespace pilvo::testing {

inline bool trayMenuShown() {
  return runShell(
             "for w in $(xdotool search --onlyvisible --classname com.pilvo.Pilvo); do "
             "xprop -id $w _NET_WM_WINDOW_TYPE; done | grep -q POPUP_MENU")
      .ok();
}

// Clicks the item with bus name `item` and types `keys` (xdotool key syntax)
// into the menu it opens; fails when the menu does not open or does not close.
inline ::testing::AssertionResult chooseFromTrayMenu(const std::string& item,
                                                     const std::string& keys) {
  if (!runShell("timeout 15 gdbus call --session --dest " + item +
                " --object-path /StatusNotifierItem"
                " --method org.kde.StatusNotifierItem.Activate 0 0")
           .ok()) {
    return ::testing::AssertionFailure() << "Activate did not reach " << item;
  }
  if (!waitUntil(trayMenuShown, 10)) return ::testing::AssertionFailure() << "no menu after the click";
  if (!runShell("timeout 15 xdotool key " + keys).ok()) {
    return ::testing::AssertionFailure() << "xdotool key " << keys << " failed";
  }
  if (!waitUntil([] { return !trayMenuShown(); }, 10)) {
    return ::testing::AssertionFailure() << "the menu stayed open";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace pilvo::testing
