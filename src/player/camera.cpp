// Camera capture (to be built).
#include <cstdio>

#include "app/app.h"
#include "common/display.h"
#include "learning/learning.h"
#include "player/player.h"

namespace orv {

void ZAV_Capture() {}
void TurnCameraOn() {}
void TurnCameraOff() {}

void ShutdownCamera() {
  ReleaseKnowledgeBase();
  std::fputs("\n OOO                O     O                 O\n", stdout);
  std::fputs("O                   O     O                 O\n", stdout);
  std::fputs("O      OO     OO     O   O                  O\n", stdout);
  std::fputs(" OO   O  O   O  O     O O    OOO  O    O    O\n", stdout);
  std::fputs("   O OOOOOO OOOOOO     O    O   O O    O     \n", stdout);
  std::fputs("   O O      O          O    O   O O   OO    O\n", stdout);
  std::fputs("OOO   OOOO   OOOO      O     OOO   OOO  O   O\n\n", stdout);
  DisplayWaitKey(500);
}

}  // namespace orv
