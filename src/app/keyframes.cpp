// Key-frame detection (to be built).
#include "app/app.h"

namespace orv {

void ScoreKeyFrames() {}

}  // namespace orv
