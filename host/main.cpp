// pilvo: the desktop host.
#include <gtk/gtk.h>

#include <cstdio>

#include "host/app_delegate.h"

int main(int argc, char** argv) {
  // Windows go through X11 wherever there is an X display, XWayland included,
  // so they behave the same everywhere; a Wayland session without XWayland
  // gets native Wayland windows (where the compositor places them: only the
  // main window's size is restored there). The desktop itself is read from
  // the compositor when it lists toplevels (AppDelegate).
  gdk_set_allowed_backends("x11,wayland");
  g_set_prgname(pilvo::host::kApplicationId);
  g_set_application_name("Pilvo");
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr,
                 "pilvo: cannot open the X display \"%s\" nor a Wayland display; run pilvo "
                 "inside a desktop session or set DISPLAY\n",
                 g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "");
    return 1;
  }
  // WM_CLASS ("com.pilvo.Pilvo", "com.pilvo.Pilvo"), as StartupWMClass says.
  // GDK derives the class from the program name during initialisation.
  gdk_set_program_class(pilvo::host::kApplicationId);
  pilvo::host::AppDelegate delegate(pilvo::host::journalLogSink());
  return delegate.run(argc, argv);
}
