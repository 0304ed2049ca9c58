// Theme icon names to files through GTK's default icon theme (main thread only).
#pragma once

#include <optional>
#include <string>

namespace pilvo::host {

// The file GTK's default theme picks for `name` at 32 pixels; nullopt when the
// theme has none or the icon lives only in a resource.
std::optional<std::string> lookupThemeIconFile(const std::string& name);

}  // namespace pilvo::host
