// Camera settings file (to be built).
#include "control/control.h"

namespace orv {

void ReadCameraSettings() {}

}  // namespace orv
