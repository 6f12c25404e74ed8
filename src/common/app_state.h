// Application core state: start-up, main loop, motion measure and shared link,
// mouse input, frame display and key-frame detection, gesture-driven playback.
#pragma once
#include <array>
#include <cstdint>
#include <opencv2/core.hpp>
#include "common/limits.h"
#include "common/platform.h"

namespace orv {

struct AppState {
  // start-up
  int ArgCount = 0;
  int LinkSlot = 1;
  cv::Mat SideImageLeft, SideImageRight, PauseImage;  // empty when the file is missing

  // main loop
  double f_rate = 0.0;
  int PlayerMode = 1;       // 1 motion player, 0 gesture-driven
  int PendingKey = 0;       // injected command key, 0 = none
  int PreviewMode = 2;
  cv::Mat CameraPreview;    // 80x60 grey, created by the set-up
  TimeStamp TimerStart, TimerStop;
  long Cycle = 0;           // cycles run since the set-up (headless scripts key on it)
  bool EndRequested = false;  // the loop returns at the end of this cycle
  int ExitCode = 0;           // what main returns once the loop has ended
  // Set-up failures that end the process (no shared section, no content) end it with this
  // code: 0 is the player's own rule; a tool for which they are failures sets its own.
  int SetUpFailureExit = 0;
  // 1 = nothing waits: WaitOneSecond returns at once, and learning starts without countdown or
  // stillness check. For replays of recorded footage, where a wait only costs time and a
  // stillness check would read frames meant for the cycles. 0 (default) = the player's waits.
  int SkipWaits = 0;

  // motion measure and shared section
  int DifferenceSum = 0;
  std::array<int32_t, kSharedWords> SharedMirror{};
  volatile int32_t* SharedView = nullptr;  // mapped section, kept for the life of the process
  int SharedSize = kSharedSize;

  // frame display and key-frame detection
  double RedrawMark = -1.0;
  int SameFrameCount = 0;
  int flip_mode = 0;
  std::array<double, kMaxFrames> FrameMotion{};
  double ScorePrevFrame = 0.0;  // frame_no at the last revisit increment
  // Scores outside [ScoreLow, ScoreHigh) are all 0, so the per-cycle decay and the
  // search skip them. Whoever writes a non-zero score widens the range.
  int ScoreLow = 0, ScoreHigh = kMaxFrames;
  int StartFrameNum = 0, EndFrameNum = 0;  // replay period, 0/0 = none

  // gesture-driven playback
  // Per gesture, outcomes of its last 30 judgements, newest first: 1 = SampleSpread was above
  // OK_VAR, 2 = within it, 0 = no entry yet.
  std::array<std::array<int, 30>, kGestures> OkHistory{};
  int MouseReverseFlag = 0;  // non-zero: the phase maps onto the frames backwards
  int MouseVertFlag = 0;

  // operator learning
  // Gesture 0..7 whose standard motion is being taught; -1 = none. While it is >= 0 the cycle
  // hands it to DriveGRI instead of -1 and ends after the status output; it returns to -1 in
  // the cycle whose judgement is that gesture with PHASE -1 (the taught motion has ended).
  int LearnGesture = -1;
  int TeachGesture = 0;      // gesture 0..7 the operator's learning keys act on (keys 0..7)
  // Automatic learning: 0 off; 1 gestures 0..AutoLearnLast; 2 gesture AutoLearnLast only.
  int AutoLearnMode = 0;
  int AutoLearnLast = 0;     // last gesture of the automatic sequence, 0..7
  // Motion values (DifferenceSum) summed over the judged frames of a learning run, and their
  // count; the end of automatic learning turns their mean into VR_threshold.
  int DifferenceSum2 = 0, DifferenceCnt = 0;

  // Called once per cycle right after the status output, while the judgement of the cycle is
  // still in the result block (tracing tools); nullptr = none.
  void (*AfterStatus)() = nullptr;
};
extern AppState app;

// Command-line slots: 22,000 NUL-terminated names of 250 bytes. Kept apart from
// AppState because of its size (5.5 MB must not be built on the stack by a reset).
using NameSlot = std::array<char, kNameSize>;
extern std::array<NameSlot, kMaxFrames> ArgName;

}  // namespace orv
