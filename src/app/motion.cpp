// Motion measure and shared-memory link (to be built).
#include "app/app.h"
#include "common/app_state.h"

namespace orv {

void OpenSharedMemory() {}
void MeasureMotion() { app.DifferenceSum = 0; }
void CopySharedIn() {}
void CopySharedOut() {}

}  // namespace orv
