// A StatusNotifierWatcher on its own session-bus connection, playing the
// desktop's tray: it records the items that register and drops them when their
// bus name goes away, and reads an item's picture the way a tray host does.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>

namespace pilvo::testing {

class TrayWatcher {
 public:
  TrayWatcher();
  ~TrayWatcher();
  TrayWatcher(const TrayWatcher&) = delete;
  TrayWatcher& operator=(const TrayWatcher&) = delete;

  // Calls the item without blocking the thread's main context (it is iterated
  // while waiting, so an item in this process can answer); null on failure or
  // after 10 s.
  GVariant* call(const std::string& item, const char* interface, const char* method,
                 GVariant* parameters);

  // The colour (0xRRGGBB) and opacity at the middle of the paw's main pad in
  // the item's 32-pixel picture; opacity -1 when there is none.
  std::pair<uint32_t, int> sample(const std::string& item);

  std::set<std::string> registered;  // the bus names the items gave
  std::set<std::string> senders;     // the connections they registered from
  int newIcons = 0;                  // NewIcon signals heard from any item

 private:
  GDBusConnection* connection_ = nullptr;
  guint subscription_ = 0;
  guint newIconSubscription_ = 0;
  guint ownerId_ = 0;
  guint objectId_ = 0;
};

}  // namespace pilvo::testing
