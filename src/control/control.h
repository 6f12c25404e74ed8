// Operator commands (keys, mouse, function list), the threshold file and the parameter files.
#pragma once

namespace orv {

// Runs the command step of one cycle for the polled key code (0..255). Returns false when
// the program is to end (ESC on the pause screen).
bool DispatchKey(int key);
bool PauseScreen();        // false: ESC, end the program
// A key some command of the player answers (the pause screen's included); what a remote
// key may be.
bool IsCommandKey(int key);
bool ReadThresholdFile();  // ZAV_THRESHOLD.dat -> ZAV_threshold; false if it does not open
// The one writer of ZAV_THRESHOLD.dat (v/V, the calibration, tools): ZAV_threshold = value and
// the file replaced atomically; false, with the "[ NG ] Write Failed" line, when it could not be.
// The command step reads the file back into VR_threshold every cycle.
bool WriteThreshold(int value);
void LoadEnv();
// Mouse handler of the player window: buttons become pending keys.
void OnMouse(int event, int x, int y, int flags, void* param);
// OpenCV's licence notice, the key list and the learning keys.
void ShowFunctionList();

}  // namespace orv
