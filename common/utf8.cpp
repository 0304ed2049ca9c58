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

std::string mapControlCharacters(std::string_view text,
                                 const std::function<void(std::string& out, char32_t)>& write) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = [&](size_t k) {
      return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
    };
    if (c < 0x20 || c == 0x7F) {
      write(out, c);
    } else if (c == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) {  // U+0080..U+009F
      write(out, next(1));
      ++i;
    } else if (c == 0xE2 && next(1) == 0x80 && (next(2) == 0xA8 || next(2) == 0xA9)) {
      write(out, next(2) == 0xA8 ? U'\u2028' : U'\u2029');
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string replaceControlCharacters(std::string_view text) {
  return mapControlCharacters(text, [](std::string& out, char32_t) { out += "\xEF\xBF\xBD"; });
}

}  // namespace pilvo
