// Gesture-driven playback (to be built with the judgement).
#include "app/app.h"
#include "common/recognition_state.h"
#include "recognition/recognition.h"

namespace orv {

void GestureStep() {
  recog.rv = 0.0;
  DriveGRI(-1);
}

void GestureStatus() {}

}  // namespace orv
