// GLib errors as the text Pilvo reports.
#pragma once

#include <glib.h>

#include <string>

namespace pilvo {

// The error's message, freeing the error; "unknown error" when there is none.
inline std::string takeMessage(GError* error) {
  std::string message = error ? error->message : "unknown error";
  g_clear_error(&error);
  return message;
}

}  // namespace pilvo
