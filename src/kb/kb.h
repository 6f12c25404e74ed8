// The knowledge base: its files, the pattern store's release and discard, and a full synthetic one.
#pragma once
#include <string>

namespace orv {

// Knowledge-base files HOLVA_data-N-1..4.dat of content `content` (0-based; N = content + 1),
// in the working folder.
int ReadKB(int content);     // -1: a file is missing, nothing changed; else 0
// All four files replaced, or none (the previous ones kept); false when they were not saved.
bool WriteKB(int content);
// Name of knowledge-base file n (1..4) of content `content` (0-based), "HOLVA_data-C-n.dat"
// with C = content + 1.
std::string KBFileName(int content, int n);
// Clamps every loaded value that later serves as an index, a loop step or a count.
void BoundKnowledgeBase();
// Every pattern record released and every presence flag cleared.
void ReleaseKnowledgeBase();
// The pattern records of gesture g (all views and samples) released; its SampleHigh back to -1
// when anything was released.
void DiscardSamples(int g);

// Every pattern slot, learning sample and protocol map filled with plausible values drawn
// from `seed`: the largest knowledge base there can be, for measurements and long runs.
void FillFullKnowledgeBase(unsigned seed);

// Optional hook run where a load or a save lets the display process its events (the player
// keeps its window responsive). The knowledge base never calls the display itself.
extern void (*EnginePumpEvents)();

}  // namespace orv
