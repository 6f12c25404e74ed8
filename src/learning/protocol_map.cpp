// Protocol map: per gesture and view point, a kernel density of the learned similarities
// over the levels 0..999, normalised so the gesture's largest entry is 1.
//
// The judgement compares maps bit for bit across runs and copies, so every entry is the
// sum of its kernel values in sample order, exactly as a level-by-level walk would add
// them. The walk here goes sample by sample instead: each sample adds its kernel row to
// all 1000 running sums at once, which keeps the order per entry and turns 200 scattered
// passes over a level into one streaming pass over an 8 KB row.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "kb/learning_state.h"
#include "learning/learning.h"
#include "learning/learning_work.h"

namespace orv {

namespace {

// Level e stands for the similarity e / 999.
const std::array<double, kLevels> kLevelValue = [] {
  std::array<double, kLevels> t{};
  for (int e = 0; e < kLevels; ++e) t[e] = e / 999.0;
  return t;
}();

// Adds the kernel of one sample to the running sums of all levels. A similarity in 0..1
// keeps every distance index within the table; anything else (not expected from the
// discrimination, but possible in a stored file) takes the checked path, where an index
// beyond the table, or no index at all, contributes nothing.
void AddSample(double* sum, double similarity, const double* kernel) {
  const double* level = kLevelValue.data();
  if (similarity >= 0.0 && similarity <= 1.0) {
    for (int e = 0; e < kLevels; ++e) {
      const int k = static_cast<int>(999.0 * std::fabs(level[e] - similarity));
      sum[e] += kernel[k];
    }
    return;
  }
  for (int e = 0; e < kLevels; ++e) {
    const double kd = 999.0 * std::fabs(level[e] - similarity);
    if (kd < 1000.0) sum[e] += kernel[static_cast<int>(kd)];
  }
}

// Zeroes a block that holds anything. Blocks never written stay untouched, so their pages
// are not made resident just to be cleared (reading an untouched page costs no memory).
template <typename Block>
void ClearBlock(Block& block) {
  static_assert(sizeof block % sizeof(uint64_t) == 0);
  constexpr size_t kWords = sizeof block / sizeof(uint64_t);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&block);
  uint64_t any = 0;
  for (size_t i = 0; i < kWords; ++i) {
    uint64_t w;
    std::memcpy(&w, bytes + i * sizeof w, sizeof w);
    any |= w;
  }
  if (any) std::memset(&block, 0, sizeof block);
}

}  // namespace

void BuildProtocolMap(int g) {
  if (g < 0 || g >= kGestures) return;
  for (int c = 0; c < kGestures; ++c)
    if (c != g) ClearBlock(ProtocolMap[g][c]);

  auto& block = ProtocolMap[g][g];
  const double* kernel = learning.MapKernel.data();
  double highest = -1e15;
  for (int v = 0; v < kViews; ++v) {
    double* sum = block[v].data();
    std::memset(sum, 0, sizeof block[v]);
    for (const SampleRecord& r : SampleTable[g][g][v])
      if (r.valid == 1) AddSample(sum, r.similarity, kernel);
    for (int e = 0; e < kLevels; ++e)
      if (sum[e] > highest) highest = sum[e];
  }
  if (!(highest > 0.0)) return;
  for (auto& levels : block)
    for (double& x : levels) x /= highest;
}

}  // namespace orv
