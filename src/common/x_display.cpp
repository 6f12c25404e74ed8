// Kept apart from everything else: Xlib's macros (None, Status, KeyPress, ...) clash with
// the toolkit's and OpenCV's names.
#include <X11/Xlib.h>

#include "common/window_system.h"

namespace orv {

bool XDisplayReachable(const std::string& name) {
  Display* d = XOpenDisplay(name.c_str());
  if (!d) return false;
  XCloseDisplay(d);
  return true;
}

}  // namespace orv
