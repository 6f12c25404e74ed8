// Key commands: the command step of every cycle, the threshold file, pause and help.
#include <cstdio>

#include "app/app.h"
#include "common/app_state.h"
#include "common/control_state.h"
#include "common/display.h"
#include "common/learning_state.h"
#include "common/limits.h"
#include "common/player_state.h"
#include "control/control.h"
#include "player/player.h"

namespace orv {

namespace {

void KeyLine(const char* text) {
  if (control.MonitorMode != 0) std::fputs(text, stdout);
}

}  // namespace

void ReadThresholdFile() {
  if (std::FILE* f = std::fopen("ZAV_THRESHOLD.dat", "r")) {
    int v;
    if (std::fscanf(f, "%d", &v) == 1) control.ZAV_threshold = v;
    std::fclose(f);
  }
}

bool PauseScreen() {
  DisplayShow(kPlayerWindow, app.PauseImage);
  std::fputs("\n\n OOOO    OOO   O   O   OOOO  OOOOO  O \n", stdout);
  std::fputs(" O   O  O   O  O   O  O      O      O \n", stdout);
  std::fputs(" OOOO   OOOOO  O   O   OOO   OOOO   O \n", stdout);
  std::fputs(" O      O   O  O   O      O  O        \n", stdout);
  std::fputs(" O      O   O   OOO   OOOO   OOOOO  O \n\n", stdout);
  ReleaseFrameCache();
  for (;;) {
    const int k = KeyCode(DisplayWaitKey(0));
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
  std::fputs("\n  OOO            O \n", stdout);
  std::fputs(" O       OOOO    O \n", stdout);
  std::fputs(" O OOOO O    O   O \n", stdout);
  std::fputs(" O   O  O    O     \n", stdout);
  std::fputs("  OOO    OOOO    O \n\n", stdout);
  app.PendingKey = 0;
  app.RedrawMark = -1.0;
  return true;
}

bool DispatchKey(int key) {
  if (key == kKeyEnter) ShowFunctionList();
  if (app.PendingKey >= 1 && app.PendingKey <= 255) key = app.PendingKey;

  ReadThresholdFile();
  control.VR_threshold = control.ZAV_threshold;

  switch (key) {
    case kKeyEsc:
      return PauseScreen();
    case 'q':
      KeyLine("KEY FUNCTION : [q][ CAMERA ON/OFF CONTROL ]\n");
      if (player.CameraOn == 0)
        TurnCameraOn();
      else
        TurnCameraOff();
      break;
    case 'i':
      control.MonitorMode = control.MonitorMode == 0 ? 2 : 0;
      break;
    default:
      break;
  }
  return true;
}

}  // namespace orv
