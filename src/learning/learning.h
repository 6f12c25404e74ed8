// Knowledge base, learning and engine preparation.
#pragma once

namespace orv {

void InitGestureSlot(int g);
void ResetGestureTables();   // SampleHigh = -1, GestureInfo names "A".."H"
void ResetTemplates();       // ViewTemplate/TemplateBackup = 1.0, ViewTemplateFlag = 0
void BuildKernelTables();
void PrepareEngine();        // ReadKB; with a knowledge base loaded, PlayerMode = 0
void ReleaseKnowledgeBase();

}  // namespace orv
