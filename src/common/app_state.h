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
  std::array<std::array<int, 30>, kGestures> OkHistory{};
  int MouseReverseFlag = 0;
  int MouseVertFlag = 0;

  // automatic-learning calibration (nothing sets the request yet)
  int AutoLearnMode = 0;
  int DifferenceSum2 = 0, DifferenceCnt = 0;
};
extern AppState app;

// Command-line slots: 22,000 NUL-terminated names of 250 bytes. Kept apart from
// AppState because of its size (5.5 MB must not be built on the stack by a reset).
using NameSlot = std::array<char, kNameSize>;
extern std::array<NameSlot, kMaxFrames> ArgName;

}  // namespace orv
