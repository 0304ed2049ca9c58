// Renders an application's icon into the icon directory: 32 x 32 pixels, RGBA,
// aspect kept and centred on transparency, PNG. GdkPixbuf only, so it is safe
// on a worker thread.
#pragma once

#include <string>

namespace pilvo::tracking {

inline constexpr int kAppIconSize = 32;
inline constexpr const char* kAppIconSuffix = ".png";

enum class IconWriteResult { kWritten, kAlreadyThere, kUnreadableSource, kWriteFailed };

// Loads `sourcePath` (PNG, SVG or any format GdkPixbuf reads), renders it and
// places it at `destPath` through a temporary file in the same directory. An
// existing file at `destPath` is never replaced, not even by a concurrent
// writer that got there first.
IconWriteResult writeAppIcon(const std::string& sourcePath, const std::string& destPath);

}  // namespace pilvo::tracking
