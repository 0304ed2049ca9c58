// Text that crosses a trust boundary (window properties, titles) as valid UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace pilvo {

// Returns `bytes` unchanged when it is valid UTF-8; otherwise replaces each
// invalid sequence with U+FFFD. Embedded NUL bytes are kept.
std::string repairUtf8(std::string_view bytes);

}  // namespace pilvo
