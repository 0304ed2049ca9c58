#include "x11/window_reader.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

#include <set>

#include "common/utf8.h"

namespace pilvo::x11 {
namespace {

// Transient chains longer than this (or cycles) are cut.
constexpr int kMaxTransientDepth = 8;

}  // namespace

WindowReader::WindowReader(XConnection& c) : connection_(c) {
  netWmName_ = c.atom("_NET_WM_NAME");
  wmName_ = XA_WM_NAME;
  utf8String_ = c.atom("UTF8_STRING");
  compoundText_ = c.atom("COMPOUND_TEXT");
  wmClass_ = XA_WM_CLASS;
  wmTransientFor_ = XA_WM_TRANSIENT_FOR;
  netWmPid_ = c.atom("_NET_WM_PID");
  gtkApplicationId_ = c.atom("_GTK_APPLICATION_ID");
  kdeDesktopFile_ = c.atom("_KDE_NET_WM_DESKTOP_FILE");
  netClientList_ = c.atom("_NET_CLIENT_LIST");
  netActiveWindow_ = c.atom("_NET_ACTIVE_WINDOW");
  netWmWindowType_ = c.atom("_NET_WM_WINDOW_TYPE");
  netWmState_ = c.atom("_NET_WM_STATE");
  typeAtoms_ = WindowTypeAtoms{
      .normal = static_cast<uint32_t>(c.atom("_NET_WM_WINDOW_TYPE_NORMAL")),
      .dialog = static_cast<uint32_t>(c.atom("_NET_WM_WINDOW_TYPE_DIALOG")),
      .utility = static_cast<uint32_t>(c.atom("_NET_WM_WINDOW_TYPE_UTILITY")),
      .dock = static_cast<uint32_t>(c.atom("_NET_WM_WINDOW_TYPE_DOCK")),
      .desktop = static_cast<uint32_t>(c.atom("_NET_WM_WINDOW_TYPE_DESKTOP")),
      .toolbar = static_cast<uint32_t>(c.atom("_NET_WM_WINDOW_TYPE_TOOLBAR")),
      .menu = static_cast<uint32_t>(c.atom("_NET_WM_WINDOW_TYPE_MENU")),
      .splash = static_cast<uint32_t>(c.atom("_NET_WM_WINDOW_TYPE_SPLASH")),
      .skipTaskbar = static_cast<uint32_t>(c.atom("_NET_WM_STATE_SKIP_TASKBAR")),
  };
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  if (!c.lost() && XResQueryExtension(c.display(), &eventBase, &errorBase) &&
      XResQueryVersion(c.display(), &major, &minor)) {
    xresClientIds_ = major > 1 || (major == 1 && minor >= 2);
  }
}

std::optional<Window> WindowReader::transientFor(Window window, bool* gone) {
  const auto property = connection_.getProperty(window, wmTransientFor_, gone);
  if (!property) return std::nullopt;
  const auto parent = parseFirstCardinal(*property);
  if (!parent || *parent == None || *parent == connection_.root()) return std::nullopt;
  return static_cast<Window>(*parent);
}

WindowIdentityFacts WindowReader::identityFacts(Window window) {
  WindowIdentityFacts out;
  out.owner = window;
  bool gone = false;
  std::set<Window> seen{window};
  for (int depth = 0; depth < kMaxTransientDepth; ++depth) {
    const auto parent = transientFor(out.owner, &gone);
    if (gone) {
      if (out.owner == window) {
        out.gone = true;
        return out;
      }
      break;  // the parent vanished: name the window by its own properties
    }
    if (!parent || !seen.insert(*parent).second) break;
    out.owner = *parent;
    out.transient = true;
  }

  const auto readFrom = [&](Window candidate) {
    bool vanished = false;
    const auto wmClass = connection_.getProperty(candidate, wmClass_, &vanished);
    if (vanished) return false;
    const WmClass parsed = wmClass ? parseWmClass(*wmClass) : WmClass{};
    out.facts.wmClassInstance = parsed.instance;
    out.facts.wmClassClass = parsed.className;
    if (const auto gtk = connection_.getProperty(candidate, gtkApplicationId_)) {
      out.facts.gtkApplicationId = parseUtf8Text(*gtk);
    }
    if (const auto kde = connection_.getProperty(candidate, kdeDesktopFile_)) {
      out.facts.kdeDesktopFile = parseUtf8Text(*kde);
    }
    out.pid = processId(candidate);
    return true;
  };
  if (!readFrom(out.owner)) {
    // A vanished parent: name the window by its own properties.
    if (out.owner == window || !readFrom(window)) {
      out.gone = true;
      return out;
    }
    out.owner = window;
  }
  if (out.pid == 0 && out.owner != window) out.pid = processId(window);
  return out;
}

int32_t WindowReader::processId(Window window) {
  if (connection_.lost()) return 0;
  if (xresClientIds_) {
    XResClientIdSpec clientId{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    const Status status = XResQueryClientIds(connection_.display(), 1, &clientId, &count, &values);
    int32_t pid = 0;
    if (status == Success && values) {
      for (long i = 0; i < count && pid <= 0; ++i) pid = XResGetClientPid(&values[i]);
      XResClientIdsDestroy(count, values);
    }
    if (pid > 0) return pid;
  }
  if (const auto property = connection_.getProperty(window, netWmPid_)) {
    const auto pid = parseFirstCardinal(*property);
    if (pid && *pid > 0 && *pid <= INT32_MAX) return static_cast<int32_t>(*pid);
  }
  return 0;
}

std::optional<std::string> WindowReader::decodeWmName(const RawProperty& property) {
  if (property.format != 8) return std::nullopt;
  if (property.type == XA_STRING) return latin1ToUtf8(property.bytes);
  if (property.type == compoundText_ && !connection_.lost()) {
    XTextProperty text;
    text.value = reinterpret_cast<unsigned char*>(const_cast<char*>(property.bytes.data()));
    text.encoding = compoundText_;
    text.format = 8;
    text.nitems = property.bytes.size();
    char** list = nullptr;
    int count = 0;
    // Success or a count of unconvertible characters (shown as a default char).
    if (Xutf8TextPropertyToTextList(connection_.display(), &text, &list, &count) >= Success &&
        list) {
      std::string joined;
      for (int i = 0; i < count; ++i) {
        if (i > 0) joined.push_back('\0');
        joined += list[i];
      }
      XFreeStringList(list);
      return repairUtf8(joined);
    }
  }
  // UTF8_STRING, or anything a client made up: keep the text, repaired.
  return repairUtf8(property.bytes);
}

std::optional<std::string> WindowReader::title(Window window, bool* gone) {
  bool vanished = false;
  if (const auto net = connection_.getProperty(window, netWmName_, &vanished)) {
    if (auto text = parseUtf8Text(*net)) return text;
  }
  if (!vanished) {
    if (const auto legacy = connection_.getProperty(window, wmName_, &vanished)) {
      return decodeWmName(*legacy);
    }
  }
  if (gone) *gone = vanished;
  return std::nullopt;
}

bool WindowReader::hasNetWmName(Window window) {
  return connection_.getProperty(window, netWmName_, nullptr, 0).has_value();
}

bool WindowReader::isTaskbarWindow(Window window, bool transient) {
  const auto types = connection_.getProperty(window, netWmWindowType_);
  const auto states = connection_.getProperty(window, netWmState_);
  return x11::isTaskbarWindow(types ? parseCardinalList(*types) : std::vector<uint32_t>{},
                              states ? parseCardinalList(*states) : std::vector<uint32_t>{},
                              transient, typeAtoms_);
}

bool WindowReader::isDesktopOrDock(Window window) {
  const auto types = connection_.getProperty(window, netWmWindowType_);
  return types && x11::isDesktopOrDockWindow(parseCardinalList(*types), typeAtoms_);
}

std::vector<Window> WindowReader::clientList() {
  std::vector<Window> out;
  if (const auto property = connection_.getProperty(connection_.root(), netClientList_)) {
    for (const uint32_t window : parseCardinalList(*property)) {
      if (window != None) out.push_back(window);
    }
  }
  return out;
}

Window WindowReader::activeWindow() {
  if (const auto property = connection_.getProperty(connection_.root(), netActiveWindow_)) {
    if (const auto window = parseFirstCardinal(*property)) return *window;
  }
  return None;
}

}  // namespace pilvo::x11
