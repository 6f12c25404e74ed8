// Operator commands and configuration.
#pragma once

namespace orv {

// Runs the command step of one cycle for the polled key code (0..255). Returns false when
// the program is to end (ESC on the pause screen).
bool DispatchKey(int key);
bool PauseScreen();        // false: ESC, end the program
bool ReadThresholdFile();  // ZAV_THRESHOLD.dat -> ZAV_threshold; false if it does not open
void ReadCameraSettings();
void LoadEnv();

}  // namespace orv
