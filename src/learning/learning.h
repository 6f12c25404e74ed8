// Knowledge base, learning and engine preparation.
#pragma once

namespace orv {

void InitGestureSlot(int g);
void ResetGestureTables();   // SampleHigh = -1, GestureInfo names "A".."H"
void ResetTemplates();       // ViewTemplate/TemplateBackup = 1.0, ViewTemplateFlag = 0
void BuildKernelTables();    // MapKernel from OK_HIGH, RadialWeight
// ReadKB; with a knowledge base loaded: kernel and direction tables, templates and protocol
// maps of all gestures, a fresh recognizer, view-point selection, then PlayerMode = 0.
void PrepareEngine();
void ReleaseKnowledgeBase();

// Knowledge-base files HOLVA_data-N-1..4.dat of the current content, in the working folder.
int ReadKB();                // -1: a file is missing, nothing changed; else 0
void WriteKB();
// Clamps every loaded value that later serves as an index, a loop step or a count.
void BoundKnowledgeBase();

// Every pattern slot, learning sample and protocol map filled with plausible values drawn
// from `seed`: the largest knowledge base there can be, for measurements and long runs.
void FillFullKnowledgeBase(unsigned seed);

void DiscardSamples(int g);
// Start of teaching gesture pos_num: its learned data, weight and limits are cleared; every
// other gesture keeps what it learned.
void PrepareLearning();

// Protocol map of gesture g from its learning samples (all 8 channel blocks of g rebuilt).
void BuildProtocolMap(int g);
// Template weights of gesture g: learning form (1) rates the view points from the samples
// and refreshes TemplateBackup; plain form (0) restores TemplateBackup and flags the active
// view points. Both then set GestureWeight[g] and cap RateLimit[g].
void BuildTemplate(int g, int learningForm);
// View-point selection: ranks the 32 view points by their weights over all gestures (or by
// RoiMask), keeps NEROI of them (at most 32), sets RoiActive and MapEnable, recomputes the
// evidence limits from the review sums and starts a fresh sequence with PHASE -1.
void SelectViewPoints();

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
