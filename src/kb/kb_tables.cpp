// The knowledge base's state, its big tables and the ownership of pattern records.
#include <sys/mman.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kb/learning_state.h"
#include "common/tables.h"
#include "kb/kb.h"

namespace orv {

LearningState learn;
SampleTableT SampleTable{};
std::unique_ptr<PatternStore, FreeDeleter> Patterns;
SlotTable<int> PatternPresent{};
ProtocolMapT ProtocolMap{};

void FreeDeleter::operator()(void* p) const noexcept { std::free(p); }

bool EnsurePatternStore() {
  if (Patterns) return true;
  Patterns.reset(static_cast<PatternStore*>(std::calloc(1, sizeof(PatternStore))));
  if (!Patterns) return false;
  // The distance scan streams ~26 MB per frame: 2 MB pages spare it ~6,400 TLB misses.
  // Only advice; a kernel that declines it costs nothing.
  const auto first = (reinterpret_cast<uintptr_t>(Patterns.get()) + 4095) & ~uintptr_t{4095};
  ::madvise(reinterpret_cast<void*>(first), sizeof(PatternStore) - 4096, MADV_HUGEPAGE);
  return true;
}

void ReleasePattern(int mode, int gesture, int sample) {
  if (!PatternPresent[mode][gesture][sample]) return;
  PatternPresent[mode][gesture][sample] = 0;
  if (!Patterns) return;
  Patterns->Re[mode][gesture][sample].fill(0.0);
  Patterns->Ps[mode][gesture][sample].fill(0.0);
  Patterns->Header[mode][gesture][sample].fill(0);
}

void ReleaseAllPatterns() {
  Patterns.reset();
  ClearTable(PatternPresent);
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

}  // namespace orv
