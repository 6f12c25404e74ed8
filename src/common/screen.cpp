// Size of the X screen the player window opens on, for the full-screen player window.
#include <X11/Xlib.h>

#include "common/display.h"

namespace orv {

bool ScreenSize(int* width, int* height) {
  ::Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  const int s = DefaultScreen(d);
  *width = DisplayWidth(d, s);
  *height = DisplayHeight(d, s);
  XCloseDisplay(d);
  return *width > 0 && *height > 0;
}

}  // namespace orv
