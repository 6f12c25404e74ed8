// Operator commands (keys, mouse, function list), the threshold file and the parameter files.
#pragma once
#include <span>

namespace orv {

// --- the command table ---
// One row per key that a command of the player answers, as a server keeps its commands: the
// key, what the command step runs for it, and where else the key counts. DispatchKey runs the
// handler, IsCommandKey and the remote key commands (/orvante/key) look the key up, and the
// key poll of a teaching reads which keys act while it runs. The charts (the function list,
// the learning-key list, the pause screen's picture) keep their own layouts and texts; a test
// holds them and the flags below to the same keys.
enum CommandFlag : unsigned {
  kDuringTeaching = 1u << 0,  // acts while a teaching holds the keyboard (ESC: cancels it); others wait
  kFromRemote = 1u << 1,      // may come from a remote sender as /orvante/key
  kInFunctionList = 1u << 2,  // shown in the function list (Enter)
  kInLearningKeys = 1u << 3,  // shown in the learning-key list below it
  kInPauseChart = 1u << 4,    // shown in the pause screen's chart (keyallocation_01.jpg)
  kHidden = 1u << 5,          // shown in no chart, on purpose
};
struct Command {
  int key;               // key code 1..255 (ESC 27, Enter 13)
  bool (*run)(int key);  // the command step's handler, nullptr when the key has none there
                         // (Enter, d); false: the program is to end
  unsigned flags;        // CommandFlag bits
};
std::span<const Command> CommandTable();
const Command* FindCommand(int key);  // nullptr: no command answers the key

// --- the command step ---

// Runs the command step of one cycle for the polled key code (0..255). Returns false when
// the program is to end (ESC on the pause screen).
bool DispatchKey(int key);
bool PauseScreen();        // false: ESC, end the program
// A key some command of the player answers (the pause screen's included): a row of the table.
bool IsCommandKey(int key);
// The KEY FUNCTION line of a command, printed while MonitorMode is not 0.
void KeyLine(const char* text);
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
