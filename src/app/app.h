// Application core operations.
#pragma once
#include <string>
#include <vector>

namespace orv {

// start-up (main.cpp is a thin shell over this)
int OrvanteMain(int argc, char** argv);
void PrintStartBanner();
// Fills ArgName/ArgCount from argv, echoes "[i]word" and prints the total-length line.
void TakeCommandLine(int argc, char** argv);
// Batch copy of ArgName[1..ArgCount-1] into ../S001; returns the exit code.
int RunBatchCopy();
void ShowFunctionList();
void LoadInterfaceImages();
void CreatePlayerWindow(int flags);

// main loop
int RunMainLoop();     // set-up, then cycles until the program ends; returns the exit code
void SetUpMainLoop();
bool RunCycle();       // one cycle; false when the program is to end
// Optional observer called in every cycle right after its stepping, while the cycle's
// judgement is still in place (replays trace the cycle here). Null in the player.
extern void (*AfterCycleStepping)();
void PlayerStatus();

// cycle timer
void StartTimer();
double StopTimer();
int WaitOneSecond();
double ElapsedSeconds(long long startSec, long long startUsec, long long sec, long long usec);
int CheckIndex(int s);
void ClearJudgement();

// motion measure and shared section
void OpenSharedMemory();
void MeasureMotion();
void CopySharedIn();   // section -> SharedMirror
void CopySharedOut();  // SharedMirror -> section
// Name of the section: "/RWT_SHARED_MEMORY", or ORVANTE_SHM_NAME (tests and rehearsals use
// their own section so that they never disturb a running installation).
std::string SharedMemoryName();

// mouse
void OnMouse(int event, int x, int y, int flags, void* param);

// frame display and key-frame step
bool DisplayFrame();   // false: a frame image could not be loaded, the loop ends
void ScoreKeyFrames();

// gesture-driven playback
void GestureStep();
void GestureStatus();

}  // namespace orv
