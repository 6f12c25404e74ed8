// Gesture slots, kernel tables, learning preparation and the engine preparation after a load.
#include <cstdio>
#include <cmath>
#include <cstring>

#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "common/tables.h"
#include "kb/kb.h"
#include "learning/learning.h"
#include "recognition/recognition.h"

namespace orv {

void (*EngineShowText)(const char*) = nullptr;
bool (*EngineWait)(int) = nullptr;

namespace {

// The learned data of gesture g: templates, samples, protocol map and weight.
void ClearGestureSlot(int g) {
  for (auto& byView : learning.ViewTemplate[g]) byView.fill(1.0);
  for (auto& byView : learning.TemplateBackup[g]) byView.fill(1.0);
  learn.SampleCount[g] = 0;
  ClearTable(ProtocolMap[g]);  // every level 0.0
  for (auto& byView : learning.ViewTemplateFlag[g]) byView.fill(0);
  ClearTable(SampleTable[g]);
  learn.GestureWeight[g] = 0.0;
}

}  // namespace

void InitGestureSlot(int g) {
  if (g < 0 || g >= kGestures) return;
  ClearGestureSlot(g);
  learn.GestureWeight.fill(0.0);
}

void ResetGestureTables() {
  for (auto& row : learn.SampleHigh) row.fill(-1);
  for (int g = 0; g < kGestures; ++g) {
    GestureEntry& e = learn.GestureInfo[g];
    std::memset(e.name, 0, sizeof e.name);
    e.name[0] = static_cast<char>('A' + g);
    e.number = g;
  }
}

std::string GestureName(int g) {
  if (g < 0 || g >= kGestures) return "?";
  const GestureEntry& e = learn.GestureInfo[g];
  return std::string(e.name, strnlen(e.name, sizeof e.name));
}

void ResetTemplates() {
  for (int g = 0; g < kGestures; ++g) {
    for (auto& byView : learning.ViewTemplate[g]) byView.fill(1.0);
    for (auto& byView : learning.TemplateBackup[g]) byView.fill(1.0);
    for (auto& byView : learning.ViewTemplateFlag[g]) byView.fill(0);
  }
}

void BuildKernelTables() {
  const double h = learn.OK_HIGH;
  int i = 0;
  for (double b = 0.0; b < 1000.0; b += 1.0, ++i) {
    const double x = b * b / 1000000.0;
    learning.MapKernel[i] = std::exp(-0.5 * h * x) + std::exp(-0.25 * h * x) + std::exp(-h * x) +
                         std::exp(-2.0 * h * x);
    engine.RadialWeight[i] = std::exp(-5.0 * (999.0 - b) * (999.0 - b) / 1000000.0);
  }
}

bool PrepareEngine(int content) {
  if (ReadKB(content) == -1) return false;
  BuildKernelTables();
  FillDirectionTables();
  for (int g = 0; g < kGestures; ++g) {
    BuildTemplate(g, 1);
    BuildProtocolMap(g);
  }
  ResetRecognition();
  ResetResultBlock();
  SelectViewPoints();
  if (learn.LearningPasses > 0)
    std::printf("The knowledge base asks for %d learning pass(es) of gesture [ %s ]; they run while the "
                "camera is on.\n",
                learn.LearningPasses, GestureName(learn.pos_num).c_str());
  return true;
}

// Only the gesture being taught starts afresh: clearing all eight, as a first teaching would
// not notice, would wipe every other learned gesture (and a save would keep the loss).
void PrepareLearning() {
  ResetRecognition();
  const int p = learn.pos_num;
  if (p < 0 || p >= kGestures) return;  // bounded at load; a caller may still pass junk
  learn.GestureInfo[p].length = 0;
  ClearGestureSlot(p);
  DiscardSamples(p);
  learn.RateLimit[p] = 1e10;
  learn.JudgeCount[p].fill(0);
  learn.JudgeSum[p].fill(0.0);
  learn.RoiWeightSum[p].fill(0.0);
}

}  // namespace orv
