// The main loop: its set-up and one cycle at a time.
#pragma once

namespace orv {

int RunMainLoop();     // set-up, then cycles until the program ends; returns the exit code
void SetUpMainLoop();
bool RunCycle();       // one cycle; false when the program is to end
// The cycle's camera share: capture, then the motion measure. False, measuring nothing, when
// the capture ended a replay's recording (player.StopAtCameraEnd).
bool CaptureAndMeasure();
// Optional observer called in every cycle right after its stepping, while the cycle's
// judgement is still in place (replays trace the cycle here). Null in the player.
extern void (*AfterCycleStepping)();
void PlayerStatus();
void ClearJudgement();

}  // namespace orv
