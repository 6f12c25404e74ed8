// Player parameter files (to be built).
#include "control/control.h"

namespace orv {

void LoadEnv() {}

}  // namespace orv
