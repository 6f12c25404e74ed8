// Where the motion threshold belongs: still and moving motion values, their levels and the
// threshold between them (orvante-tune and the calibration at the end of automatic learning).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "player/motion.h"

namespace orv {

int Percentile(std::vector<int> values, double p) {
  if (values.empty()) return 0;
  const double n = static_cast<double>(values.size());
  long rank = static_cast<long>(std::ceil(std::clamp(p, 0.0, 100.0) / 100.0 * n));
  rank = std::clamp(rank, 1L, static_cast<long>(values.size()));
  std::nth_element(values.begin(), values.begin() + (rank - 1), values.end());
  return values[static_cast<size_t>(rank - 1)];
}

MotionLevels LevelsOf(std::vector<int> still, std::vector<int> moving, int samplePoints) {
  MotionLevels m;
  m.stillCount = static_cast<int>(still.size());
  m.movingCount = static_cast<int>(moving.size());
  m.still = std::max(Percentile(still, 99.0), std::max(1, samplePoints));
  m.motion = Percentile(moving, 10.0);
  m.margin = m.stillCount > 0 && m.movingCount > 0 ? static_cast<double>(m.motion) / m.still : 0.0;
  char why[200];
  if (m.stillCount < kMinLevelValues || m.movingCount < kMinLevelValues) {
    std::snprintf(why, sizeof why, "%d still and %d moving values; at least %d of each are needed", m.stillCount,
                  m.movingCount, kMinLevelValues);
    m.why = why;
    return m;
  }
  if (m.margin < kMinMotionMargin) {
    std::snprintf(why, sizeof why,
                  "no clear separation: the motion level %d is %.2f times the still level %d, below %.1f", m.motion,
                  m.margin, m.still, kMinMotionMargin);
    m.why = why;
    return m;
  }
  m.threshold = static_cast<int>(std::lround(std::sqrt(static_cast<double>(m.still) * m.motion)));
  m.separated = true;
  return m;
}

MotionLevels SeparateMotion(const std::vector<int>& values, int samplePoints, int* split) {
  std::vector<int> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  const size_t n = sorted.size();
  // Between-class variance of the logarithms for every split between two different values,
  // from running sums: w0 * w1 * (mean0 - mean1)^2.
  double total = 0.0;
  for (int v : sorted) total += std::log1p(std::max(0, v));
  double below = 0.0, best = -1.0;
  size_t cut = 0;  // values [0, cut) are still
  for (size_t k = 1; k < n; ++k) {
    below += std::log1p(std::max(0, sorted[k - 1]));
    if (sorted[k] == sorted[k - 1]) continue;
    const double w0 = static_cast<double>(k), w1 = static_cast<double>(n - k);
    const double d = below / w0 - (total - below) / w1;
    const double between = w0 * w1 * d * d;
    if (between > best) {
      best = between;
      cut = k;
    }
  }
  if (cut == 0) {
    // One value throughout (or none): nothing moves against anything.
    MotionLevels m = LevelsOf(sorted, {}, samplePoints);
    m.why = n == 0 ? "no motion values" : "no clear separation: every motion value is " + std::to_string(sorted[0]);
    if (split) *split = n == 0 ? 0 : sorted.back();
    return m;
  }
  if (split) *split = sorted[cut - 1];
  return LevelsOf(std::vector<int>(sorted.begin(), sorted.begin() + static_cast<long>(cut)),
                  std::vector<int>(sorted.begin() + static_cast<long>(cut), sorted.end()), samplePoints);
}

}  // namespace orv
