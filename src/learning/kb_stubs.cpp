// Knowledge-base entry points (to be built).
#include "learning/learning.h"

namespace orv {

void (*EnginePumpEvents)() = nullptr;
void InitGestureSlot(int) {}
void ResetGestureTables() {}
void ResetTemplates() {}
void BuildKernelTables() {}
void PrepareEngine() {}
void ReleaseKnowledgeBase() {}
int ReadKB() { return -1; }
void WriteKB() {}
void BoundKnowledgeBase() {}
void DiscardSamples(int) {}
void PrepareLearning() {}
void FeedFrame() {}

}  // namespace orv
