#include "common/utf8.h"

#include <glib.h>

namespace pilvo {

std::string repairUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  while (p < end) {
    const char* validEnd = nullptr;
    // g_utf8_validate_len stops at the first invalid byte; NUL is valid here.
    if (g_utf8_validate_len(p, static_cast<gsize>(end - p), &validEnd)) {
      out.append(p, end);
      break;
    }
    out.append(p, validEnd);
    if (validEnd < end && *validEnd == '\0') {
      out.push_back('\0');
      p = validEnd + 1;
      continue;
    }
    out.append("\xEF\xBF\xBD");
    // Skip one byte of the broken sequence, then any continuation bytes.
    p = validEnd + 1;
    while (p < end && (static_cast<unsigned char>(*p) & 0xC0) == 0x80) ++p;
  }
  return out;
}

}  // namespace pilvo
