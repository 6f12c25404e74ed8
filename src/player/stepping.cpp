// Player stepping and motion count (to be built).
#include "player/player.h"

namespace orv {

void StepPlayer() {}
void MoveForward(double) {}
void MoveBackward(double) {}

}  // namespace orv
