// Knowledge base, learning and engine preparation.
#pragma once

namespace orv {

void InitGestureSlot(int g);
void ResetGestureTables();   // SampleHigh = -1, GestureInfo names "A".."H"
void ResetTemplates();       // ViewTemplate/TemplateBackup = 1.0, ViewTemplateFlag = 0
void BuildKernelTables();    // MapKernel from OK_HIGH, RadialWeight
void PrepareEngine();        // ReadKB; with a knowledge base loaded, PlayerMode = 0
void ReleaseKnowledgeBase();

// Knowledge-base files HOLVA_data-N-1..4.dat of the current content, in the working folder.
int ReadKB();                // -1: a file is missing, nothing changed; else 0
void WriteKB();
// Clamps every loaded value that later serves as an index, a loop step or a count.
void BoundKnowledgeBase();

void DiscardSamples(int g);
void PrepareLearning();

// Frame source: puts the next 80x60 frame into GrayFrame[GrayFrameIndex] (live, or a
// recorded frame during review) and records pass frames while learning.
void FeedFrame();

// Optional hook run where the engine lets the display process its events (after a load
// or a save). The engine never calls the display itself.
extern void (*EnginePumpEvents)();
// Optional hook that shows a learning text (pass countdown, "LEARNING ..."): the player prints
// it and draws it over its window. Unset, the engine prints the text itself.
extern void (*EngineShowText)(const char* text);

}  // namespace orv
