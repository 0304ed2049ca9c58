// Text that crosses a trust boundary (window properties, titles) as valid UTF-8.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace pilvo {

// Returns `bytes` unchanged when it is valid UTF-8; otherwise replaces each
// invalid sequence with U+FFFD. Embedded NUL bytes are kept.
std::string repairUtf8(std::string_view bytes);

// Valid UTF-8 `text` with every control character (C0 including NUL, DEL,
// C1) and the line and paragraph separators replaced by U+FFFD: for names
// that end up in single-line places such as log lines and file names.
std::string replaceControlCharacters(std::string_view text);

// UTF-8 `text` with each control character (C0 including NUL, DEL, C1, the
// line and paragraph separators) written by `write(out, codePoint)` instead;
// everything else is copied unchanged.
std::string mapControlCharacters(std::string_view text,
                                 const std::function<void(std::string& out, char32_t)>& write);

}  // namespace pilvo
