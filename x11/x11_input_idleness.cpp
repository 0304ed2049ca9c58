#include "x11/x11_input_idleness.h"

#include <X11/extensions/XInput2.h>
#include <X11/extensions/scrnsaver.h>
#include <glib.h>

#include <limits>
#include <optional>

namespace pilvo::x11 {
namespace {

enum Kind : size_t { kKey = 0, kMotion = 1, kLeft = 2 };

size_t slot(InputKind kind) {
  switch (kind) {
    case InputKind::kKeyDown:
      return kKey;
    case InputKind::kMouseMoved:
      return kMotion;
    case InputKind::kLeftMouseDown:
      return kLeft;
  }
  return kKey;
}

constexpr int kLeftButton = 1;

// Seconds since the server last saw input of any kind, where it keeps count.
std::optional<double> serverIdleSeconds(Display* display, Window root) {
  int event = 0;
  int error = 0;
  if (!XScreenSaverQueryExtension(display, &event, &error)) return std::nullopt;
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  if (!info) return std::nullopt;
  std::optional<double> seconds;
  if (XScreenSaverQueryInfo(display, root, info)) {
    seconds = static_cast<double>(info->idle) / 1000.0;
  }
  XFree(info);
  return seconds;
}

}  // namespace

X11InputIdleness::X11InputIdleness(XConnection& connection, MonotonicClock clock)
    : connection_(connection), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return static_cast<double>(g_get_monotonic_time()) / 1e6; };
  last_.fill(clock_());
  if (connection_.lost()) {
    problem_ = "the X display is lost";
    return;
  }
  Display* display = connection_.display();
  int event = 0;
  int error = 0;
  if (!XQueryExtension(display, "XInputExtension", &opcode_, &event, &error)) {
    problem_ = "the X server has no XInput extension; idle time cannot be measured";
    return;
  }
  int major = 2;
  int minor = 2;
  if (XIQueryVersion(display, &major, &minor) != Success || major < 2 ||
      (major == 2 && minor < 1)) {
    problem_ = "the X server lacks XInput 2.1; idle time cannot be measured";
    return;
  }
  available_ = true;
  handler_ = connection_.addEventHandler([this](XEvent& e) { onEvent(e); });

  unsigned char raw[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(raw, XI_RawKeyPress);
  XISetMask(raw, XI_RawButtonPress);
  XISetMask(raw, XI_RawMotion);
  unsigned char devices[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(devices, XI_HierarchyChanged);
  XISetMask(devices, XI_DeviceChanged);
  XIEventMask masks[2] = {
      {XIAllMasterDevices, sizeof(raw), raw},
      {XIAllDevices, sizeof(devices), devices},
  };
  XISelectEvents(display, connection_.root(), masks, 2);
  // Asked after selecting the raw events, so input in between is not lost:
  // its events, dispatched later, move the starting point forward.
  if (const auto idle = serverIdleSeconds(display, connection_.root())) {
    last_.fill(clock_() - *idle);
  }
  refreshDevices();
  refreshModifiers();
  connection_.flush();
}

X11InputIdleness::~X11InputIdleness() {
  handler_.reset();
  if (!available_ || connection_.lost()) return;
  unsigned char none[XIMaskLen(XI_LASTEVENT)] = {};
  XIEventMask masks[2] = {
      {XIAllMasterDevices, sizeof(none), none},
      {XIAllDevices, sizeof(none), none},
  };
  XISelectEvents(connection_.display(), connection_.root(), masks, 2);
  connection_.flush();
}

double X11InputIdleness::secondsSinceLastEvent(InputKind kind) {
  if (!available_) return 0;
  return std::max(0.0, clock_() - last_[slot(kind)]);
}

void X11InputIdleness::forgetInputSoFar() { last_.fill(-std::numeric_limits<double>::infinity()); }

void X11InputIdleness::refreshDevices() {
  scrollValuators_.clear();
  int count = 0;
  XIDeviceInfo* info = XIQueryDevice(connection_.display(), XIAllDevices, &count);
  if (!info) return;
  for (int i = 0; i < count; ++i) {
    for (int c = 0; c < info[i].num_classes; ++c) {
      if (info[i].classes[c]->type != XIScrollClass) continue;
      const auto* scroll = reinterpret_cast<const XIScrollClassInfo*>(info[i].classes[c]);
      scrollValuators_[info[i].deviceid].insert(scroll->number);
    }
  }
  XIFreeDeviceInfo(info);
}

void X11InputIdleness::refreshModifiers() {
  modifierKeycodes_.clear();
  XModifierKeymap* map = XGetModifierMapping(connection_.display());
  if (!map) return;
  for (int i = 0; i < 8 * map->max_keypermod; ++i) {
    if (map->modifiermap[i] != 0) modifierKeycodes_.insert(map->modifiermap[i]);
  }
  XFreeModifiermap(map);
}

bool isPointerMotion(const std::set<int>& scrollValuators, const unsigned char* mask,
                     int maskLength) {
  for (int valuator = 0; valuator < maskLength * 8; ++valuator) {
    if (XIMaskIsSet(mask, valuator) && !scrollValuators.contains(valuator)) return true;
  }
  return false;
}

const std::set<int>& X11InputIdleness::scrollValuatorsOf(int deviceId, int sourceId) const {
  // Valuator numbers are those of the device that produced the event.
  static const std::set<int> kNone;
  auto it = scrollValuators_.find(sourceId);
  if (it == scrollValuators_.end()) it = scrollValuators_.find(deviceId);
  return it == scrollValuators_.end() ? kNone : it->second;
}

void X11InputIdleness::onEvent(XEvent& event) {
  if (event.type == MappingNotify) {
    XRefreshKeyboardMapping(&event.xmapping);
    if (event.xmapping.request == MappingModifier || event.xmapping.request == MappingKeyboard) {
      refreshModifiers();
    }
    return;
  }
  XGenericEventCookie& cookie = event.xcookie;
  if (cookie.type != GenericEvent || cookie.extension != opcode_ || !cookie.data) return;
  switch (cookie.evtype) {
    case XI_RawKeyPress: {
      ++rawEventsSeen_;
      const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
      if (!modifierKeycodes_.contains(raw->detail)) last_[kKey] = clock_();
      break;
    }
    case XI_RawButtonPress: {
      ++rawEventsSeen_;
      const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
      if (raw->detail == kLeftButton) last_[kLeft] = clock_();
      break;
    }
    case XI_RawMotion: {
      ++rawEventsSeen_;
      const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
      if (isPointerMotion(scrollValuatorsOf(raw->deviceid, raw->sourceid), raw->valuators.mask,
                          raw->valuators.mask_len)) {
        last_[kMotion] = clock_();
      }
      break;
    }
    case XI_HierarchyChanged:
      refreshDevices();
      break;
    case XI_DeviceChanged:
      // A slave switch only copies classes to the master; slaves keep theirs.
      if (static_cast<const XIDeviceChangedEvent*>(cookie.data)->reason == XIDeviceChange) {
        refreshDevices();
      }
      break;
    default:
      break;
  }
}

}  // namespace pilvo::x11
