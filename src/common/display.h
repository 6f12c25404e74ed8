// Display and input seam. Every window call goes through here so that the whole
// player runs headless (tests, benchmarks, replays) on the same code path.
#pragma once
#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <opencv2/core.hpp>
#include <opencv2/highgui.hpp>

namespace orv {

// One scripted input: at cycle `cycle` (or later), a key or a mouse event.
struct ScriptEvent {
  long cycle = 0;
  int key = -1;          // key code, or -1 for a mouse event
  int mouseEvent = 0;    // cv::EVENT_* for a mouse event
  int x = 0, y = 0;
};

// Headless display state: what was shown and what input is still to come.
struct HeadlessDisplay {
  std::map<std::string, cv::Mat> shown;        // last image shown per window
  bool copyShown = true;  // deep copies (tests); benchmarks and replays keep references
  std::map<std::string, int> windows;          // open windows and their flags
  std::map<std::string, cv::MouseCallback> mouse;
  std::deque<ScriptEvent> script;
  // Set for the player's own headless runs: once the script is used up, every wait answers
  // ESC (pause, then quit), so an unattended run always ends. Drivers that run cycles
  // themselves (tests, benchmarks) leave it off and get "no key" instead.
  bool escWhenUsedUp = false;
  long showCount = 0;
  long waitCount = 0;
  long destroyCount = 0;
};

// Keys a real window has queued at most while no key wait takes them (a keyboard buffer).
constexpr std::size_t kTypedKeysMax = 64;

struct DisplayState {
  bool headless = false;
  std::map<std::string, bool> sized;  // real windows already fitted to their first picture
  std::map<std::string, bool> autosized;  // real windows that take their picture's size
  std::map<std::string, std::string> beside;  // real windows placed beside another: name -> anchor
  cv::Size screen;  // pixel size of the X screen, read once; empty until read or without one
  // Headless only, for tests of the reduced decode: the size a window would show its picture
  // in. Empty (the default) = at the picture's own size, so headless runs decode in full.
  cv::Size pretendArea;
  bool fullscreen = false;  // the player window covers the whole screen, without a frame
  long cycle = 0;                    // cycle counter the script is matched against
  std::deque<int> typed;             // real window: keys as typed (1..255), oldest first, not yet
                                     // taken by a key wait; at most kTypedKeysMax
  HeadlessDisplay hd;
};
extern DisplayState display;

// Switches; the highgui display is the default.
void UseHeadlessDisplay();
void UseWindowDisplay();
// Pixel size of the default X screen; false when no X display answers.
bool ScreenSize(int* width, int* height);
// Checks that a real window can be opened (X display present); false with a reason otherwise.
bool WindowSystemAvailable(std::string* why);

void DisplayNamedWindow(const std::string& name, int flags);
void DisplayShow(const std::string& name, const cv::Mat& img);
void DisplayDestroy(const std::string& name);
// Next key (-1 = none by the time-out; ms <= 0 waits without one). In the real window it is the
// character typed (Shift, Caps Lock applied; kNoKey for a key that types none; a modifier alone
// is no key), headless the script's next key.
int DisplayWaitKey(int ms);
// Lets the windows serve their events for ms without taking a typed key: a key typed meanwhile
// stays for the next DisplayWaitKey. Headless, the same as DisplayWaitKey(ms) (a due script
// key is used up), so scripted runs read their keys as before.
void DisplayServeEvents(int ms);
// Puts window `name` to the right of window `anchor` (no-op headless), so that a small
// window never covers the picture or the pointer over it.
// Beside on the right when the screen has room there, else on the left; never over the picture.
void DisplayPlaceBeside(const std::string& name, const std::string& anchor);
// Size at which window `name` shows a picture of `picture`'s size: the picture fitted into the
// window's area (kept proportions, never enlarged). Empty when unknown: headless (unless
// pretendArea is set), or a window not yet fitted to a picture.
cv::Size DisplayShownSize(const std::string& name, cv::Size picture);
// `picture` scaled to fit into `area` keeping its proportions; unchanged when it fits already.
cv::Size FitInto(cv::Size picture, cv::Size area);
void DisplaySetMouse(const std::string& name, cv::MouseCallback cb);

// Script parsing: one event per line, "<cycle> <token>", '#' starts a comment.
// Token: one printable character (the key), ESC, ENTER, SPACE, a decimal key code "#27",
// or LCLICK / RCLICK / MCLICK / MOVE optionally followed by x y.
bool ParseScript(const std::string& text, std::deque<ScriptEvent>* out, std::string* err);
bool LoadScriptFile(const std::string& path, std::string* err);

// Low byte of a waitKey result, with 10 folded into 13 (Enter differs between backends).
int KeyCode(int raw);

}  // namespace orv
