#include "common/display.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <opencv2/imgproc.hpp>

#include "common/limits.h"
#include "common/platform.h"
#include "common/window_system.h"

namespace orv {

DisplayState display;

namespace {

// Room kept free beside a player window that had to shrink to the screen: the camera preview
// (80 pixels wide) and a gap on either side of it.
constexpr int kBesideRoom = 80 + 2 * 16;

cv::Size Screen() {
  if (display.screen.empty()) {
    int w = 0, h = 0;
    if (ScreenSize(&w, &h)) display.screen = cv::Size(w, h);
  }
  return display.screen;
}

// Where a picture larger than the screen is fitted: the screen, less the preview's column beside a
// window (in full screen the preview stays off the screen). Empty without a screen.
cv::Size FitArea() {
  const cv::Size screen = Screen();
  if (screen.empty() || display.fullscreen) return screen;
  return {std::max(1, screen.width - kBesideRoom), screen.height};
}

}  // namespace

cv::Size FitInto(cv::Size picture, cv::Size area) {
  if (picture.width <= area.width && picture.height <= area.height) return picture;
  if (picture.width <= 0 || picture.height <= 0 || area.width <= 0 || area.height <= 0) return {};
  // Integer arithmetic: the same size on every machine, and never a pixel beyond the area.
  const long long byWidth = static_cast<long long>(area.width) * picture.height;
  const long long byHeight = static_cast<long long>(area.height) * picture.width;
  if (byWidth <= byHeight)
    return {area.width, std::max(1, static_cast<int>(byWidth / picture.width))};
  return {std::max(1, static_cast<int>(byHeight / picture.height)), area.height};
}

void UseHeadlessDisplay() {
  display = DisplayState{};
  display.headless = true;
}

void UseWindowDisplay() {
  display = DisplayState{};
  display.headless = false;
}

bool WindowSystemAvailable(std::string* why) {
  // Qt aborts the process when it cannot reach a display; check first and say so.
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  const char* qpa = std::getenv("QT_QPA_PLATFORM");
  // A toolkit platform other than X (offscreen, Wayland, ...) is the operator's explicit choice.
  if (qpa && *qpa && std::string(qpa).rfind("xcb", 0) != 0) return true;
  if (x && *x) {
    if (XDisplayReachable(x)) return true;
    if (why)
      *why = std::string("no X server answers on display \"") + x +
             "\" (start the player once the desktop is up, or check DISPLAY)";
    return false;
  }
  if (w && *w) return true;
  if (why) *why = "no display: DISPLAY is not set (run on a desktop, under xvfb-run, or with ORVANTE_HEADLESS=1)";
  return false;
}

void DisplayNamedWindow(const std::string& name, int flags) {
  if (display.headless) {
    display.hd.windows[name] = flags;
    return;
  }
  // GUI_NORMAL: no Qt toolbar, status bar or context menu over the picture.
  cv::namedWindow(name, flags | cv::WINDOW_GUI_NORMAL);
  display.sized[name] = (flags & cv::WINDOW_AUTOSIZE) != 0;
  display.autosized[name] = (flags & cv::WINDOW_AUTOSIZE) != 0;
  TypedKeysAttach();  // the toolkit exists once a window does
  if (display.fullscreen && name == kPlayerWindow) {
    // Every creation (also the one of the sizing key) goes full screen again; fitting the
    // window to its first picture would take it out of full screen, so that is skipped.
    cv::setWindowProperty(name, cv::WND_PROP_FULLSCREEN, cv::WINDOW_FULLSCREEN);
    // Without a window manager (a kiosk X server) the full-screen request is not served:
    // place and size the window over the whole screen ourselves.
    const cv::Size screen = Screen();
    if (!screen.empty()) {
      cv::moveWindow(name, 0, 0);
      cv::resizeWindow(name, screen.width, screen.height);
    }
    display.sized[name] = true;
  }
}

void DisplayShow(const std::string& name, const cv::Mat& img) {
  if (img.empty()) return;
  if (display.headless) {
    // A copy freezes the picture as shown even if its source is changed in place later;
    // a reference costs nothing, which is what a benchmark of the cycle should measure.
    if (display.hd.copyShown)
      img.copyTo(display.hd.shown[name]);
    else
      display.hd.shown[name] = img;
    display.hd.windows.emplace(name, 0);
    ++display.hd.showCount;
    return;
  }
  // A resizable window opens at a toolkit default size; fit it to the first picture once,
  // after that the operator's size stays. A picture larger than the screen gets a window that
  // fits the screen with room for the camera preview beside it; the window scales the picture.
  const cv::Size area = FitArea();
  if (auto it = display.sized.find(name); it != display.sized.end() && !it->second) {
    const cv::Size fit = area.empty() ? img.size() : FitInto(img.size(), area);
    if (fit != img.size()) cv::moveWindow(name, 0, 0);
    cv::resizeWindow(name, fit.width, fit.height);
    it->second = true;
    // A window placed beside this one before it had its size moves with it.
    for (const auto& [other, anchor] : display.beside)
      if (anchor == name) DisplayPlaceBeside(other, name);
  }
  // A window that takes its picture's size cannot scale: a picture larger than the screen is
  // scaled here.
  if (display.autosized[name] && !area.empty()) {
    const cv::Size fit = FitInto(img.size(), area);
    if (fit != img.size()) {
      static cv::Mat scaled;
      cv::resize(img, scaled, fit, 0, 0, cv::INTER_AREA);
      cv::imshow(name, scaled);
      return;
    }
  }
  cv::imshow(name, img);
}

cv::Size DisplayShownSize(const std::string& name, cv::Size picture) {
  if (display.headless) return display.pretendArea.empty() ? cv::Size() : FitInto(picture, display.pretendArea);
  auto it = display.sized.find(name);
  if (it == display.sized.end() || !it->second) return {};
  if (display.autosized[name]) {
    const cv::Size area = FitArea();
    return area.empty() ? picture : FitInto(picture, area);
  }
  const cv::Rect r = cv::getWindowImageRect(name);
  if (r.width <= 0 || r.height <= 0) return {};
  return FitInto(picture, r.size());
}

void DisplayDestroy(const std::string& name) {
  if (display.headless) {
    display.hd.windows.erase(name);
    display.hd.shown.erase(name);
    display.hd.mouse.erase(name);
    ++display.hd.destroyCount;
    return;
  }
  display.sized.erase(name);
  display.beside.erase(name);
  cv::destroyWindow(name);
}

static void FireMouse(const ScriptEvent& ev) {
  auto it = display.hd.mouse.find(kPlayerWindow);
  if (it != display.hd.mouse.end() && it->second)
    it->second(ev.mouseEvent, ev.x, ev.y, 0, nullptr);
}

int DisplayWaitKey(int ms) {
  if (!display.headless) return TypedKeysWait(ms);
  ++display.hd.waitCount;
  auto& q = display.hd.script;
  // Mouse events due by now fire inside the wait, as the window system would.
  while (!q.empty() && q.front().key < 0 && q.front().cycle <= display.cycle) {
    ScriptEvent ev = q.front();
    q.pop_front();
    FireMouse(ev);
  }
  if (!q.empty() && q.front().key >= 0 && q.front().cycle <= display.cycle) {
    int k = q.front().key;
    q.pop_front();
    return k;
  }
  if (q.empty() && display.hd.escWhenUsedUp) return kKeyEsc;
  if (ms <= 0) {
    // A blocking wait takes the next event whatever its cycle; an exhausted script
    // answers ESC so that a test can never hang on a wait for a key.
    while (!q.empty() && q.front().key < 0) {
      ScriptEvent ev = q.front();
      q.pop_front();
      FireMouse(ev);
    }
    if (q.empty()) return kKeyEsc;
    int k = q.front().key;
    q.pop_front();
    return k;
  }
  return -1;
}

void DisplayServeEvents(int ms) {
  if (display.headless) {
    DisplayWaitKey(ms);
    return;
  }
  TypedKeysServe(ms);
}

void DisplayPlaceBeside(const std::string& name, const std::string& anchor) {
  if (display.headless) return;
  display.beside[name] = anchor;
  const cv::Rect r = cv::getWindowImageRect(anchor);
  if (r.width <= 0) return;
  const cv::Size screen = Screen();
  // In full screen there is no room beside: the preview goes off the screen, as it always did.
  const bool roomRight = screen.empty() || r.x + r.width + kBesideRoom <= screen.width || display.fullscreen;
  cv::moveWindow(name, roomRight ? r.x + r.width + 16 : std::max(0, r.x - kBesideRoom + 16), r.y);
}

void DisplaySetMouse(const std::string& name, cv::MouseCallback cb) {
  if (display.headless) {
    display.hd.mouse[name] = cb;
    return;
  }
  cv::setMouseCallback(name, cb, nullptr);
}

static bool ParseToken(const std::string& tok, std::istringstream& rest, ScriptEvent* ev) {
  if (tok == "ESC") return ev->key = 27, true;
  if (tok == "ENTER") return ev->key = 13, true;
  if (tok == "SPACE") return ev->key = 32, true;
  if (tok.size() > 1 && tok[0] == '#') {
    int v = 0;
    if (!ParseWhole(tok.substr(1), 0, 255, &v)) return false;
    return ev->key = v, true;
  }
  int mouse = tok == "LCLICK" ? cv::EVENT_LBUTTONDOWN
              : tok == "RCLICK" ? cv::EVENT_RBUTTONDOWN
              : tok == "MCLICK" ? cv::EVENT_MBUTTONDOWN
              : tok == "MOVE"   ? cv::EVENT_MOUSEMOVE
                                : -1;
  if (mouse >= 0) {
    ev->key = -1;
    ev->mouseEvent = mouse;
    int x = 0, y = 0;
    if (rest >> x >> y) ev->x = x, ev->y = y;
    return true;
  }
  if (tok.size() == 1 && static_cast<unsigned char>(tok[0]) > 32 && static_cast<unsigned char>(tok[0]) < 127)
    return ev->key = static_cast<unsigned char>(tok[0]), true;
  return false;
}

bool ParseScript(const std::string& text, std::deque<ScriptEvent>* out, std::string* err) {
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  std::deque<ScriptEvent> events;
  while (std::getline(in, line)) {
    ++lineNo;
    auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;  // blank or comment
    std::istringstream ls(line);
    long cycle;
    std::string tok;
    if (!(ls >> cycle)) {
      if (err) *err = "script line " + std::to_string(lineNo) + ": expected a cycle number";
      return false;
    }
    ScriptEvent ev;
    ev.cycle = cycle;
    if (!(ls >> tok) || !ParseToken(tok, ls, &ev)) {
      if (err) *err = "script line " + std::to_string(lineNo) + ": unknown event '" + tok + "'";
      return false;
    }
    events.push_back(ev);
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const ScriptEvent& a, const ScriptEvent& b) { return a.cycle < b.cycle; });
  *out = std::move(events);
  return true;
}

bool LoadScriptFile(const std::string& path, std::string* err) {
  std::ifstream f(path);
  if (!f) {
    if (err) *err = "cannot open script " + path;
    return false;
  }
  std::stringstream ss;
  ss << f.rdbuf();
  return ParseScript(ss.str(), &display.hd.script, err);
}

int KeyCode(int raw) {
  int k = raw & 0xff;
  return k == 10 ? 13 : k;
}

}  // namespace orv
