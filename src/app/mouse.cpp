// Mouse input (to be built).
#include "app/app.h"

namespace orv {

void OnMouse(int, int, int, int, void*) {}

}  // namespace orv
