// The real window's link to the desktop, below the display seam: the X connection test and
// the keyboard as typed. Only display.cpp uses this.
#pragma once
#include <string>

namespace orv {

// True when an X server answers at `name` (a DISPLAY value such as ":0").
bool XDisplayReachable(const std::string& name);

// Starts reading the windows' key presses from the toolkit; call after a window has been
// created (the toolkit exists from then on). Harmless to call again.
void TypedKeysAttach();
// Waits like cv::waitKey(ms) (ms <= 0: without time-out) and returns the next key as typed:
// its character (Shift and Caps Lock applied), kNoKey for a key that types no plain character,
// -1 when the time ran out. A modifier pressed alone is no key.
int TypedKeysWait(int ms);
// Serves the windows' events for ms (at least 1) and leaves the typed keys queued.
void TypedKeysServe(int ms);

}  // namespace orv
