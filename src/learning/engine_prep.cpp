// Gesture slots, kernel tables, learning preparation and the engine preparation after a load.
#include <cstdio>
#include <cmath>
#include <cstring>

#include "common/app_state.h"
#include "common/learning_state.h"
#include "common/recognition_state.h"
#include "learning/learning.h"
#include "recognition/recognition.h"

namespace orv {

void (*EnginePumpEvents)() = nullptr;
void (*EngineShowText)(const char*) = nullptr;

void InitGestureSlot(int g) {
  if (g < 0 || g >= kGestures) return;
  for (auto& byView : learn.ViewTemplate[g]) byView.fill(1.0);
  for (auto& byView : learn.TemplateBackup[g]) byView.fill(1.0);
  learn.SampleCount[g] = 0;
  for (auto& byView : ProtocolMap[g])
    for (auto& levels : byView) levels.fill(0.0);
  for (auto& byView : learn.ViewTemplateFlag[g]) byView.fill(0);
  std::memset(&SampleTable[g], 0, sizeof SampleTable[g]);
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

void ResetTemplates() {
  for (int g = 0; g < kGestures; ++g) {
    for (auto& byView : learn.ViewTemplate[g]) byView.fill(1.0);
    for (auto& byView : learn.TemplateBackup[g]) byView.fill(1.0);
    for (auto& byView : learn.ViewTemplateFlag[g]) byView.fill(0);
  }
}

void BuildKernelTables() {
  const double h = learn.OK_HIGH;
  int i = 0;
  for (double b = 0.0; b < 1000.0; b += 1.0, ++i) {
    const double x = b * b / 1000000.0;
    learn.MapKernel[i] = std::exp(-0.5 * h * x) + std::exp(-0.25 * h * x) + std::exp(-h * x) +
                         std::exp(-2.0 * h * x);
    learn.RadialWeight[i] = std::exp(-5.0 * (999.0 - b) * (999.0 - b) / 1000000.0);
  }
}

void PrepareEngine() {
  if (ReadKB() == -1) return;
  // While passes are pending the loop neither shows frames nor polls keys; until the passes
  // themselves exist nothing would ever end them, so an unattended player would freeze.
  if (learn.LearningPasses > 0) {
    std::fprintf(stderr,
                 "NOTE: the knowledge base asks for %d learning pass(es); this build does not run learning "
                 "passes yet, so it is used for recognition only.\n",
                 learn.LearningPasses);
    learn.LearningPasses = 0;
  }
  BuildKernelTables();
  FillDirectionTables();
  // Template building, protocol maps and view-point selection join here with the judgement.
  ResetRecognition();
  ResetResultBlock();
  app.PlayerMode = 0;
}

void DiscardSamples(int g) {
  if (g < 0 || g >= kGestures) return;
  bool any = false;
  for (int v = 0; v < kViews; ++v)
    for (int s = 0; s < kSeqFrames; ++s)
      if (PatternPresent[v][g][s]) ReleasePattern(v, g, s), any = true;
  if (any)
    for (int v = 0; v < kViews; ++v) learn.SampleHigh[v][g] = -1;
}

void PrepareLearning() {
  for (auto& e : learn.GestureInfo) e.length = 0;
  ResetRecognition();
  for (int g = 0; g < kGestures; ++g) InitGestureSlot(g);
  const int p = learn.pos_num;
  if (p < 0 || p >= kGestures) return;  // bounded at load; a caller may still pass junk
  DiscardSamples(p);
  learn.RateLimit[p] = 1e10;
  learn.JudgeCount[p].fill(0);
  learn.JudgeSum[p].fill(0.0);
  learn.RoiWeightSum[p].fill(0.0);
}

}  // namespace orv
