// Recognition engine entry points (to be built).
#include "recognition/recognition.h"

namespace orv {

void DriveGRI(int) {}
void ResetRecognition() {}
void FillDirectionTables() {}
void ResetEngineCaches() {}

}  // namespace orv
