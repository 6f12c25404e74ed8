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
// The camera went off or the copy ends: its own word becomes 0 and word 0 is formed again.
void WithdrawMotion();
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
// The two halves of GestureStep after the recognizer, on the cycle's result block:
// OK_VAR widening for judged gesture g, and the phase onto frame_no.
void AdaptOkLimit(int g);
void MapPhaseToFrame();
// The 103-character gauge of the status line (phase, acceleration, width, speed).
std::string GestureGauge(int phase, int length, int accel, int width, int speed);

// Operator learning. The entries prepare the engine for teaching; with interactive false
// (replays of recordings) they skip the countdown, the stillness check and every wait.
// Standard motion of gesture g (0..7): the next motion sequence becomes its learned motion
// (app.LearnGesture = g). Switches to gesture-driven playback.
void StandardMotionEntry(int g, bool interactive);
// Similar-motion passes of gesture pos_num: the next `passes` judged motion sequences are
// learning passes, then their review runs. Switches to gesture-driven playback.
void SimilarMotionEntry(int passes, bool interactive);
// Waits until the performer stands still (up to 30 x 10 captured frames).
void StillnessCheck();
// Prints a learning text on the console and draws it over the player window.
void ShowLearningText(const char* text);
// WriteKB, unless learning passes, a review or a standard motion are still running or
// nothing has been taught; then a one-line message and false.
bool SaveKnowledgeBase();
// Keys of the operator's learning commands (0..7, g, s, w, a); false for any other key.
bool LearningKey(int key);
// End-of-cycle share of automatic learning (after ClearJudgement).
void AutoLearningStep();
void ShowLearningKeys();

}  // namespace orv
