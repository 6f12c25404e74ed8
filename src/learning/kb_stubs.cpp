// Knowledge-base entry points (to be built).
#include "learning/learning.h"

namespace orv {

void InitGestureSlot(int) {}
void ResetGestureTables() {}
void ResetTemplates() {}
void BuildKernelTables() {}
void PrepareEngine() {}
void ReleaseKnowledgeBase() {}

}  // namespace orv
