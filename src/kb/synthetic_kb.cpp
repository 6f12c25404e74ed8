// A knowledge base with every slot in use, for measuring what the largest one costs: the
// benchmarks, the memory probe shipped with the package and the long-run test all load the
// same one, so their figures can be compared.
#include <cmath>
#include <cstdlib>
#include <random>

#include "kb/learning_state.h"
#include "kb/kb.h"

namespace orv {

void FillFullKnowledgeBase(unsigned seed) {
  if (!EnsurePatternStore()) std::abort();  // 63 MB of patterns: nothing sensible to measure without them
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  // Signatures and spectra in the ranges live frames give (radii up to ~120, spectra up to a few
  // thousand), so matching does real work instead of hitting an early exit.
  for (int v = 0; v < kViews; ++v)
    for (int g = 0; g < kGestures; ++g) {
      for (int s = 0; s < kSeqFrames; ++s) {
        for (double& x : Patterns->Re[v][g][s]) x = 120.0 * unit(rng);
        for (double& x : Patterns->Ps[v][g][s]) x = 4000.0 * unit(rng);
        PatternPresent[v][g][s] = 1;
      }
      learn.SampleHigh[v][g] = kSeqFrames;
    }
  // Learning samples as passes leave them (each gesture seen on its own channel), so that
  // templates and protocol maps are built from a full table.
  for (int g = 0; g < kGestures; ++g) {
    learn.GestureInfo[g].length = 60;
    learn.SampleCount[g] = kSeqFrames;
    for (int v = 0; v < kViews; ++v)
      for (int s = 0; s < kSeqFrames; ++s)
        SampleTable[g][g][v][s] = SampleRecord{1, 0, unit(rng), 1.0 + (s * 3 + v) % 60};
  }
  // Judgement tables for runs that skip PrepareEngine: gesture 0 peaks at a similarity of
  // 0.9, the others at 0.5, every gesture fully weighted and barely limited.
  for (int k = 0; k < kGestures; ++k)
    for (auto& levels : ProtocolMap[k][k])
      for (int e = 0; e < kLevels; ++e) {
        const double d = e / 999.0 - (k == 0 ? 0.9 : 0.5);
        levels[e] = std::exp(-20.0 * d * d);
      }
  learn.GestureWeight.fill(1.0);
  learn.RateLimit.fill(1e-6);
}

}  // namespace orv
