// pilvo: the desktop host.
#include <gtk/gtk.h>

#include <cstdio>

#include "host/app_delegate.h"

int main(int argc, char** argv) {
  // Pilvo reads the desktop through X11 (EWMH), also under XWayland.
  gdk_set_allowed_backends("x11");
  g_set_prgname(pilvo::host::kApplicationId);
  g_set_application_name("Pilvo");
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr,
                 "pilvo: cannot open the X display \"%s\"; run pilvo inside an X11 session "
                 "or set DISPLAY\n",
                 g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "");
    return 1;
  }
  // WM_CLASS ("com.pilvo.Pilvo", "com.pilvo.Pilvo"), as StartupWMClass says.
  // GDK derives the class from the program name during initialisation.
  gdk_set_program_class(pilvo::host::kApplicationId);
  pilvo::host::AppDelegate delegate(pilvo::host::journalLogSink());
  return delegate.run(argc, argv);
}
