#include "x11/window_properties.h"

#include <algorithm>

#include "common/utf8.h"

namespace pilvo::x11 {
namespace {

// EWMH: the first type in the list that the reader knows is the one to use.
// 0 when the list names no type known here.
uint32_t firstKnownType(const std::vector<uint32_t>& types, const WindowTypeAtoms& atoms) {
  for (const uint32_t type : types) {
    if (type == 0) continue;
    if (type == atoms.normal || type == atoms.dialog || type == atoms.utility ||
        type == atoms.dock || type == atoms.desktop || type == atoms.toolbar ||
        type == atoms.menu || type == atoms.splash) {
      return type;
    }
  }
  return 0;
}

}  // namespace

WmClass parseWmClass(const RawProperty& property) {
  WmClass out;
  if (property.format != 8 || property.bytes.empty()) return out;
  std::string_view rest = property.bytes;
  const size_t first = rest.find('\0');
  out.instance = std::string(rest.substr(0, first));
  if (first == std::string_view::npos) return out;
  rest.remove_prefix(first + 1);
  const size_t second = rest.find('\0');
  if (second != 0 && !rest.empty()) out.className = std::string(rest.substr(0, second));
  return out;
}

std::optional<uint32_t> parseFirstCardinal(const RawProperty& property) {
  if (property.format != 32 || property.values.empty()) return std::nullopt;
  return property.values.front();
}

std::vector<uint32_t> parseCardinalList(const RawProperty& property) {
  if (property.format != 32) return {};
  return property.values;
}

std::optional<std::string> parseUtf8Text(const RawProperty& property) {
  if (property.format != 8) return std::nullopt;
  return repairUtf8(property.bytes);
}

std::string latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

bool isDesktopOrDockWindow(const std::vector<uint32_t>& types, const WindowTypeAtoms& atoms) {
  const uint32_t type = firstKnownType(types, atoms);
  return type != 0 && (type == atoms.desktop || type == atoms.dock);
}

bool isTaskbarWindow(const std::vector<uint32_t>& types, const std::vector<uint32_t>& states,
                     bool transient, const WindowTypeAtoms& atoms) {
  const auto has = [](const std::vector<uint32_t>& list, uint32_t atom) {
    return atom != 0 && std::find(list.begin(), list.end(), atom) != list.end();
  };
  if (has(states, atoms.skipTaskbar)) return false;
  if (const uint32_t type = firstKnownType(types, atoms)) return type == atoms.normal;
  // No known type: normal, unless transient (then it counts as a dialog).
  return !transient;
}

}  // namespace pilvo::x11
