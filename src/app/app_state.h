// Application state: the command line, the main loop's own counters and exit, the tools' hooks
// and the judgement history of gesture-driven playback. What the player, the operator commands
// and the engine use lives on their own floors (player_state.h, control_state.h, kb/, learning/,
// recognition/).
#pragma once
#include <array>

#include "common/limits.h"
#include "common/platform.h"
#include "common/timer.h"

namespace orv {

struct AppState {
  // ---- start-up ------------------------------------------------------------
  int ArgCount = 0;  // words of the command line, program path included; 2+ = batch copy
  // 1 (default) = the set-up opens OSC as osc.txt says; 0 = no OSC whatever the file says
  // (replays and tuning: their motion is not the room's).
  int OscAtSetUp = 1;
  // 1: the main loop switches the camera on before its first cycle, as q would, so that an
  // installation started by the computer plays without anyone at the keyboard
  // (ORVANTE_CAMERA_ON=1). 0 (default): the camera starts off.
  int CameraAtStart = 0;

  // ---- main loop -------------------------------------------------------------
  double f_rate = 0.0;  // 1 / seconds since the last StartTimer, at most 999. The status
                        // output restarts the timer, so in player mode it is the rate of
                        // display, key poll and commands alone, not of the whole cycle
  long Cycle = 0;           // cycles run since the set-up (headless scripts key on it)
  bool EndRequested = false;  // the loop returns at the end of this cycle
  int ExitCode = 0;           // what main returns once the loop has ended

  // ---- gesture-driven playback --------------------------------------------------------
  // Per gesture, outcomes of its last 30 judgements, newest first: 1 = SampleSpread was above
  // OK_VAR, 2 = within it, 0 = no entry yet.
  std::array<std::array<int, 30>, kGestures> OkHistory{};

  // ---- the operator view's rates ---------------------------------------------------------
  // Over the last whole second of a real window: RateStart, RateCycles and RateChanges begin
  // the second (the rates themselves are control.ViewChangeRate and ViewCycleRate).
  TimeStamp RateStart;
  long RateCycles = 0, RateChanges = 0;

  // Called once per cycle right after the status output, while the judgement of the cycle is
  // still in the result block (tracing tools); nullptr = none.
  void (*AfterStatus)() = nullptr;
};
extern AppState app;

}  // namespace orv
