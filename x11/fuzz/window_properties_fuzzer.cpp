// Window properties are written by any client: whatever their bytes, the
// parsers and the identity resolver give valid UTF-8 and never crash.
#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "identity/app_identity.h"
#include "x11/window_properties.h"

namespace {

// Valid UTF-8; embedded NULs are kept on purpose (GLib's check stops at them).
void requireUtf8(const std::optional<std::string>& text) {
  if (!text) return;
  size_t start = 0;
  while (start <= text->size()) {
    size_t end = text->find('\0', start);
    if (end == std::string::npos) end = text->size();
    if (!g_utf8_validate_len(text->data() + start, end - start, nullptr)) std::abort();
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pilvo;
  using namespace pilvo::x11;
  static const DesktopEntryIndex index(std::vector<std::string>{});
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  const RawProperty text{.type = 31, .format = 8, .bytes = bytes, .values = {}};
  const WmClass wmClass = parseWmClass(text);
  requireUtf8(parseUtf8Text(text));
  requireUtf8(latin1ToUtf8(bytes));

  // The same bytes as 32-bit items, as Xlib hands them over.
  RawProperty items{.type = 4, .format = 32, .bytes = {}, .values = {}};
  for (size_t i = 0; i + 4 <= size; i += 4) {
    items.values.push_back(
        static_cast<uint32_t>(data[i]) | static_cast<uint32_t>(data[i + 1]) << 8 |
        static_cast<uint32_t>(data[i + 2]) << 16 | static_cast<uint32_t>(data[i + 3]) << 24);
  }
  (void)parseFirstCardinal(items);
  (void)isTaskbarWindow(parseCardinalList(items), items.values, size % 2 == 0,
                        WindowTypeAtoms{.normal = 1, .dialog = 2, .skipTaskbar = 3});

  const size_t half = size / 2;
  const AppIdentity identity = resolveAppIdentity(
      WindowFacts{wmClass.instance, wmClass.className,
                  size % 3 == 0 ? std::optional<std::string>(bytes.substr(0, half)) : std::nullopt,
                  size % 5 == 0 ? std::optional<std::string>(bytes.substr(half)) : std::nullopt},
      index);
  requireUtf8(identity.bundleId);
  requireUtf8(identity.localizedName);
  if (identity.bundleId && identity.bundleId->empty()) std::abort();
  return 0;
}
