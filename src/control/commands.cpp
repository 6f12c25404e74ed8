// Key commands: the command step of every cycle, the threshold file, pause and help.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "control/control_state.h"
#include "common/display.h"
#include "kb/learning_state.h"
#include "common/limits.h"
#include "common/platform.h"
#include "player/player_state.h"
#include "kb/banners.h"
#include "control/control.h"
#include "control/osc.h"
#include "player/player.h"
#include "control/operator_view.h"
#include "control/teaching.h"
#include "player/display_step.h"
#include "player/motion.h"

namespace orv {

namespace {

constexpr const char* kThresholdFile = "ZAV_THRESHOLD.dat";
constexpr const char* kHome = "..";
constexpr int kMaxHomeClips = 100000;  // the five-digit names of the home folder
constexpr int kPausePollMs = 20;  // a pause that serves remote commands looks at the network this often

// --- frame step, image shift, threshold, flip, window sizing ---

void FrameStep(bool forward) {
  player.ImageShift = 0;
  if (forward)
    MoveForward(1.0);
  else
    MoveBackward(1.0);

  const int start = player.StartFrameNum, end = player.EndFrameNum;
  if (start < end && (start > 0 || end > 0)) {
    const double f = std::trunc(player.frame_no);
    if (f < start || f > end) {
      if (player.WrapFlag == 0) player.VR_step *= 0.999;
      player.frame_no = f < start ? start : end;
    }
  }

  player.Direction = forward ? 1 : 0;
  if (player.WrapFlag == 0) player.PrevDirection = player.Direction;

  const int f = CurrentFrame();
  if (f >= 0) {
    const FrameRecord& r = FrameData[static_cast<size_t>(f)];
    if (r.http[0] != '\0') std::printf("\nFrameData[ %5d ].http[2] = [%s]\n", f, r.http);
    if (r.file[0] != '\0') std::printf("FrameData[ %5d ].file[3] = [%s]\n", f, r.file);
  }
  player.AutoPlayDirection = forward ? 1 : 0;
  player.IdleCount = 0;
}

// Re-reads the frame from its file and samples it around a centre moved by ImageShift.
void ShiftImage(int sign) {
  const int f = CurrentFrame();
  if (f < 0) return;
  cv::Mat& slot = FrameImages[static_cast<size_t>(f)];
  // Always from the file: the shift is measured from the file image, not the last shifted copy.
  slot.release();
  FrameData[static_cast<size_t>(f)].loaded = 0;
  if (!EnsureFrameLoaded(f)) return;
  const cv::Mat img = slot;
  player.ImageShift += sign;

  cv::Mat shifted;
  // The shift counts pixels of the full-size picture; a reduced decode moves by its share.
  const float shift = player.FrameReduction > 1 ? static_cast<float>(player.ImageShift) / player.FrameReduction
                                                : static_cast<float>(player.ImageShift);
  const cv::Point2f centre(static_cast<float>(img.cols / 2) + shift, static_cast<float>(img.rows / 2));
  cv::getRectSubPix(img, img.size(), centre, shifted);
  slot = shifted;
  player.ShiftedImage = shifted;
  DisplayShow(kPlayerWindow, shifted);
  if (player.OperatorView != 0) player.RedrawMark = -1.0;  // the view is drawn over the new picture
}

void ChangeThreshold(int sign) {
  if (!ReadThresholdFile()) std::printf("[ NG ] Read Failed : [ %s ]\n", kThresholdFile);
  const long long s = std::max(1, player.SampleStep);  // a step below 1 would divide by zero
  const long long inc = 76800LL / (s * s * 100LL);
  long long v = static_cast<long long>(player.ZAV_threshold) + sign * inc;
  v = std::clamp(v, 0LL, static_cast<long long>(INT_MAX));
  player.ZAV_threshold = static_cast<int>(v);
  std::printf("SET: ZAV_threshold = [ %d ]\n", player.ZAV_threshold);
  WriteThreshold(player.ZAV_threshold);
  control.MonitorMode = 0;
}

void ToggleFlipMode() {
  if (++player.flip_mode > 1) player.flip_mode = 0;
  if (player.OperatorView != 0) player.RedrawMark = -1.0;  // the view is drawn over the new picture
  std::printf("SET: flip_mode = [ %s ]\n", player.flip_mode == 0 ? "NORMAL" : "LEFT-RIGHT REVERSE");
  const int f = CurrentFrame();
  if (f < 0 || FrameData[static_cast<size_t>(f)].loaded != 1) return;
  const cv::Mat& img = FrameImages[static_cast<size_t>(f)];
  if (img.empty()) return;
  if (player.flip_mode == 0) {
    DisplayShow(kPlayerWindow, img);
  } else {
    cv::Mat mirrored;
    cv::flip(img, mirrored, 1);
    DisplayShow(kPlayerWindow, mirrored);
  }
}

void ToggleWindowSizing() {
  control.VARIABLE_SIZE_FLAG = control.VARIABLE_SIZE_FLAG == 0 ? 1 : 0;
  if (JapaneseMessages())
    std::printf("SET: 画像表示用ウィンドウサイズ = [ %s ]\n", control.VARIABLE_SIZE_FLAG ? "自動変更" : "手動変更");
  else
    std::printf("SET: window size for image display = [ %s ]\n", control.VARIABLE_SIZE_FLAG ? "AUTOMATIC" : "MANUAL");
  DisplayDestroy(kPlayerWindow);
  CreatePlayerWindow(control.VARIABLE_SIZE_FLAG ? cv::WINDOW_AUTOSIZE : cv::WINDOW_NORMAL, OnMouse);
  player.RedrawMark = -1.0;
}

// --- the home folder: saved frames and the first clip ---

// First home-folder clip name not taken yet. An existing file is never a free name,
// even when it cannot be read, so a copy never replaces it.
std::string FreeHomeName() {
  for (int n = 0; n < kMaxHomeClips; ++n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s/clip_%5d.jpg", kHome, n);
    std::string name = ZeroFill(buf);
    if (!FileReadable(name) && !FileExists(name)) return name;
  }
  return {};
}

void CopyToHome(const std::string& from, const char* label) {
  const std::string to = FreeHomeName();
  if (to.empty()) {
    std::fprintf(stderr, "ERROR: no free clip name left in the home folder [%s].\n", kHome);
    return;
  }
  std::printf("%s%s\n", label, ("copy " + from + " " + to).c_str());
  std::fflush(stdout);
  std::string err;
  if (!CopyFile(from, to, &err)) std::fprintf(stderr, "ERROR: copy failed: %s\n", err.c_str());
}

void SaveFrame() {
  const int f = CurrentFrame();
  if (f < 0) return;
  CopyToHome(FrameData[static_cast<size_t>(f)].path, "EXECUTING (Clip Image) : ");
}

void AddFirstClip() {
  const std::string first = std::string(kHome) + "/clip_00000.jpg";
  if (!FileReadable(first)) {
    std::printf("\nERROR: There is no such a file [clip_00000.jpg] in home folder.\n\n");
    return;
  }
  CopyToHome(first, "EXECUTING : ");
}

// --- the pause screen's key ---

// The next key of the pause screen, typed or remote. Without remote operation it is the plain
// wait without time-out; with it, the wait is cut into short polls so that status requests are
// answered, the state goes out once a second and queued commands run (a threshold command at
// once, keys returned with *remote set).
int PauseKey(bool* remote) {
  *remote = false;
  if (osc.Listener.fd < 0 && osc.ControlCount == 0) return KeyCode(DisplayWaitKey(0));
  for (;;) {
    ReceiveOsc();
    SendPeriodicState(OscClock());
    OscCommand c;
    if (TakeRemoteCommand(&c)) {
      if (c.key != 0) {
        *remote = true;
        return c.key;
      }
      std::printf("SET: ZAV_threshold = [ %d ]\n", c.threshold);
      WriteThreshold(c.threshold);
      continue;
    }
    const int k = KeyCode(DisplayWaitKey(kPausePollMs));
    if (k != kNoKey) return k;
    if (display.headless) {
      // A headless wait returns at once: wait on the network instead, and let the script's
      // clock run on so that its later events come due one poll at a time.
      WaitForOsc(kPausePollMs);
      ++display.cycle;
    }
  }
}

// --- the command table ---
// One handler a row; each prints its KEY FUNCTION line (MonitorMode not 0) and runs the command.
// true: the cycle goes on; false: the program is to end.

bool RunPause(int) { return PauseScreen(); }

bool RunWindowSizing(int) {
  KeyLine("KEY FUNCTION : [SPACE][ Toggle VARIABLE_SIZE_FLAG ]\n");
  ToggleWindowSizing();
  return true;
}

bool RunPreviousFrame(int) {
  KeyLine("KEY FUNCTION : [z][ Decrease frame_no ]\n");
  FrameStep(false);
  return true;
}

bool RunNextFrame(int) {
  KeyLine("KEY FUNCTION : [x][ Increase frame_no ]\n");
  FrameStep(true);
  return true;
}

bool RunShiftLeft(int) {
  KeyLine("KEY FUNCTION : [Z or ,][ Shift image in OrvanteVR Window to LEFT ]\n");
  ShiftImage(-1);
  return true;
}

bool RunShiftRight(int) {
  KeyLine("KEY FUNCTION : [X or .][ Shift image in OrvanteVR Window to Right ]\n");
  ShiftImage(+1);
  return true;
}

bool RunLowerThreshold(int) {
  KeyLine("KEY FUNCTION : [v][ Decrease ZAV_threshold ]\n");
  ChangeThreshold(-1);
  return true;
}

bool RunRaiseThreshold(int) {
  KeyLine("KEY FUNCTION : [V][ Increase ZAV_threshold ]\n");
  ChangeThreshold(+1);
  return true;
}

bool RunCamera(int) {
  KeyLine("KEY FUNCTION : [q][ CAMERA ON/OFF CONTROL ]\n");
  if (player.CameraOn == 0)
    TurnCameraOn();
  else
    TurnCameraOff();
  return true;
}

bool RunMonitor(int) {
  control.MonitorMode = control.MonitorMode == 0 ? 2 : 0;
  return true;
}

bool RunFlip(int) {
  KeyLine("KEY FUNCTION : [e][ Change Flip Mode ]\n");
  ToggleFlipMode();
  return true;
}

bool RunRandomFrame(int) {
  KeyLine("KEY FUNCTION : [j][ Set frame_no at Random ]\n");
  player.ImageShift = 0;
  if (player.MaxCount > 0) player.frame_no = RandomNumber() % player.MaxCount;
  return true;
}

bool RunAutoJump(int) {
  player.AutoJumpFlag = player.AutoJumpFlag == 0 ? 1 : 0;
  std::printf("SET: AutoJumpFlag = [ %s ]\n", player.AutoJumpFlag ? "ON" : "OFF");
  return true;
}

bool RunFirstFrame(int) {
  KeyLine("KEY FUNCTION : [l][ Reset Frame Number ]\n");
  player.ImageShift = 0;
  player.frame_no = 0.0;
  player.EndFrameNum = 0;
  player.StartFrameNum = 0;
  return true;
}

bool RunCountMode(int) {
  KeyLine("KEY FUNCTION : [h][ Toggle Motion Count Mode ]\n");
  player.MotionCountOff = player.MotionCountOff == 0 ? 1 : 0;
  std::printf("SET: Motion Count Mode = [ %s ]\n", player.MotionCountOff == 0 ? "ENABLED" : "DISABLED");
  player.FrameMotion.fill(0.0);
  player.ScoreLow = player.ScoreHigh = 0;
  return true;
}

bool RunClearCount(int) {
  if (player.MotionCountOff != 0) return true;  // counting off: no line, nothing cleared
  KeyLine("KEY FUNCTION : [H][ Clear motion_count ]\n");
  player.motion_count = 0;
  std::printf("SET: motion_count = [ %d ]\n", player.motion_count);
  return true;
}

bool RunBell(int) {
  if (player.MotionCountOff != 0) return true;
  KeyLine("KEY FUNCTION : [B][ Toggle BELL_FLAG ]\n");
  player.BELL_FLAG = player.BELL_FLAG == 0 ? 1 : 0;
  std::printf("SET: BELL_FLAG = [ %s ]\n", player.BELL_FLAG ? "ENABLED" : "DISABLED");
  return true;
}

bool RunSaveFrame(int) {
  KeyLine("KEY FUNCTION : [t][ Take the Frame to Home Folder ]\n");
  SaveFrame();
  return true;
}

bool RunSaveAndNext(int) {
  KeyLine("KEY FUNCTION : [T][ Take the Frame to Home Folder (In Consecutive Manner) ]\n");
  SaveFrame();
  FrameStep(true);
  return true;
}

bool RunFirstClip(int) {
  KeyLine("KEY FUNCTION : [k][ Add clip_00000.jpg to Home Folder ]\n");
  AddFirstClip();
  return true;
}

bool RunOperatorView(int) {
  KeyLine("KEY FUNCTION : [o][ Operator View ON/OFF ]\n");
  ToggleOperatorView();
  return true;
}

bool RunLearningKey(int key) {
  LearningKey(key);
  return !control.CancelAsked || CancelPoint();  // ESC during the count-in of g
}

// Which charts show a key. The function list (Enter) leaves out k, d and the learning keys,
// which the learning-key list under it shows; the pause screen's chart shows every key.
constexpr unsigned kList = kInFunctionList, kLearn = kInLearningKeys, kChart = kInPauseChart;
// Every key may come from a remote sender: a remote performer's operator commands what the one
// at the computer can, except the end of the program (the pause screen refuses a remote ESC).
constexpr unsigned kAny = kFromRemote;

constexpr std::array kCommands = std::to_array<Command>({
    {kKeyEsc, RunPause, kAny | kDuringTeaching | kList | kLearn | kChart},
    // Enter prints the function list before a pending key can take its place (DispatchKey),
    // and resumes from the pause screen.
    {kKeyEnter, nullptr, kAny | kList | kChart},
    {' ', RunWindowSizing, kAny | kList | kChart},
    {'z', RunPreviousFrame, kAny | kList | kChart},
    {'x', RunNextFrame, kAny | kList | kChart},
    {'Z', RunShiftLeft, kAny | kList | kChart},
    {',', RunShiftLeft, kAny | kList | kChart},
    {'X', RunShiftRight, kAny | kList | kChart},
    {'.', RunShiftRight, kAny | kList | kChart},
    {'v', RunLowerThreshold, kAny | kList | kChart},
    {'V', RunRaiseThreshold, kAny | kList | kChart},
    {'q', RunCamera, kAny | kList | kChart},
    {'i', RunMonitor, kAny | kList | kChart},
    {'e', RunFlip, kAny | kList | kChart},  // on the pause screen: DThreshold up
    {'j', RunRandomFrame, kAny | kList | kChart},
    {'J', RunAutoJump, kAny | kList | kChart},
    {'l', RunFirstFrame, kAny | kList | kChart},
    {'h', RunCountMode, kAny | kList | kChart},
    {'H', RunClearCount, kAny | kList | kChart},  // the function list shows H and B while counting
    {'B', RunBell, kAny | kList | kChart},
    {'t', RunSaveFrame, kAny | kList | kChart},
    {'T', RunSaveAndNext, kAny | kList | kChart},
    {'k', RunFirstClip, kAny | kChart},
    {'o', RunOperatorView, kAny | kList | kLearn | kChart},
    {'d', nullptr, kAny | kChart},  // the pause screen's only: DThreshold down
    {'0', RunLearningKey, kAny | kLearn | kChart},
    {'1', RunLearningKey, kAny | kLearn | kChart},
    {'2', RunLearningKey, kAny | kLearn | kChart},
    {'3', RunLearningKey, kAny | kLearn | kChart},
    {'4', RunLearningKey, kAny | kLearn | kChart},
    {'5', RunLearningKey, kAny | kLearn | kChart},
    {'6', RunLearningKey, kAny | kLearn | kChart},
    {'7', RunLearningKey, kAny | kLearn | kChart},
    {'g', RunLearningKey, kAny | kLearn | kChart},
    {'s', RunLearningKey, kAny | kLearn | kChart},
    {'a', RunLearningKey, kAny | kLearn | kChart},
    {'w', RunLearningKey, kAny | kLearn | kChart},
});

}  // namespace

// --- the command table's readers, the threshold file ---

void KeyLine(const char* text) {
  if (control.MonitorMode != 0) std::fputs(text, stdout);
}

std::span<const Command> CommandTable() { return kCommands; }

const Command* FindCommand(int key) {
  for (const Command& c : kCommands)
    if (c.key == key) return &c;
  return nullptr;
}

bool IsCommandKey(int key) { return FindCommand(key) != nullptr; }

bool WriteThreshold(int value) {
  player.ZAV_threshold = value;
  if (WriteFileAtomic(kThresholdFile, std::to_string(value))) return true;
  std::printf("[ NG ] Write Failed : [ %s ]\n", kThresholdFile);
  return false;
}

bool ReadThresholdFile() {
  std::FILE* f = std::fopen(kThresholdFile, "r");
  if (!f) return false;
  // Text that is not a number keeps the threshold. So does a number beyond an int, said once
  // per value: the file is read in every cycle.
  static long warned = 0;
  long v = 0;
  if (std::fscanf(f, "%ld", &v) == 1) {
    if (v >= INT_MIN && v <= INT_MAX) {
      player.ZAV_threshold = static_cast<int>(v);
    } else if (v != warned) {
      warned = v;
      std::fprintf(stderr, "WARNING: %s: %ld is not a threshold the player can take; it stays %d.\n", kThresholdFile,
                   v, player.ZAV_threshold);
    }
  }
  std::fclose(f);
  return true;
}

// --- the pause screen and the command step ---

bool PauseScreen() {
  DisplayShow(kPlayerWindow, control.PauseImage);
  std::fputs("\n\n OOOO    OOO   O   O   OOOO  OOOOO  O \n", stdout);
  std::fputs(" O   O  O   O  O   O  O      O      O \n", stdout);
  std::fputs(" OOOO   OOOOO  O   O   OOO   OOOO   O \n", stdout);
  std::fputs(" O      O   O  O   O      O  O        \n", stdout);
  std::fputs(" O      O   O   OOO   OOOO   OOOOO  O \n\n", stdout);
  ReleaseFrameCache();
  // Nothing is measured while paused: the others must not follow this copy's last value.
  // The first cycle after the resume publishes again.
  WithdrawMotion();
  for (;;) {
    bool remote = false;
    const int k = PauseKey(&remote);
    if (k == kKeyEsc && remote) {
      // Ending the program stays an act at the computer.
      std::printf("OSC: a remote ESC does not end the player; ENTER (typed or remote) resumes\n");
      continue;
    }
    if (k == kKeyEsc) {
      ShutdownCamera();
      return false;
    }
    if (k == kKeyEnter) break;
    if (k == 'e') {
      if (++learn.DThreshold > 255) learn.DThreshold = 0;
      std::printf("SET: DThreshold = [ %d ]\n", learn.DThreshold);
    } else if (k == 'd') {
      if (--learn.DThreshold < 0) learn.DThreshold = 0;
      std::printf("SET: DThreshold = [ %d ]\n", learn.DThreshold);
    }
  }
  PrintGoBanner(GoBanner::Resumed);
  player.PendingKey = 0;
  player.RedrawMark = -1.0;
  return true;
}

bool DispatchKey(int key) {
  // A remote command runs only in a cycle nobody at the computer commands: no typed key, no
  // click and no jump of the player's own. It then acts as the same typed key.
  OscCommand remote;
  const bool fromRemote = key == kNoKey && player.PendingKey == 0 && TakeRemoteCommand(&remote);
  if (fromRemote && remote.key != 0) key = remote.key;
  if (fromRemote && remote.key == 0) {
    std::printf("SET: ZAV_threshold = [ %d ]\n", remote.threshold);
    WriteThreshold(remote.threshold);  // read back just below, as every cycle does
  }

  if (key == kKeyEnter) ShowFunctionList();
  if (player.PendingKey >= 1 && player.PendingKey <= 255) key = player.PendingKey;

  ReadThresholdFile();
  player.VR_threshold = player.ZAV_threshold;

  const Command* c = FindCommand(key);
  if (c && c->run) return c->run(key);
  // No command in this step (no key, Enter, d, a key no command answers): a cancel asked
  // meanwhile is still done here.
  return !control.CancelAsked || CancelPoint();
}

}  // namespace orv
