// The knowledge base's big tables and the ownership of pattern records.
#include <cstdlib>
#include <cstring>

#include "common/learning_state.h"

namespace orv {

SampleTableT SampleTable{};
std::unique_ptr<PatternStore, FreeDeleter> Patterns;
SlotTable<int> PatternPresent{};
ProtocolMapT ProtocolMap{};
std::array<std::array<uint8_t, kGriPixels>, kSeqFrames> PassFrames{};

void FreeDeleter::operator()(void* p) const noexcept { std::free(p); }

bool EnsurePatternStore() {
  if (!Patterns) Patterns.reset(static_cast<PatternStore*>(std::calloc(1, sizeof(PatternStore))));
  return Patterns != nullptr;
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
  for (auto& v : PatternPresent)
    for (auto& g : v) g.fill(0);
}

}  // namespace orv
