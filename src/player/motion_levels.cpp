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

namespace {

// 1 % on the log axis: a narrower hump (exact copies give one value) counts as this wide.
constexpr double kNarrowest = 0.01;

double LogLevel(int v) { return std::log1p(std::max(0, v)); }

// Variance of a class from its sums of logarithms and their squares, at least kNarrowest^2.
double ClassVariance(double sum, double squares, size_t count) {
  const double mean = sum / static_cast<double>(count);
  return std::max(squares / static_cast<double>(count) - mean * mean, kNarrowest * kNarrowest);
}

// Why sorted values that no split separates cannot be tuned from: one room's noise, or motion
// throughout, told apart by how far the middle 90 % of them spread.
std::string OneHump(const std::vector<int>& sorted) {
  const int low = Percentile(sorted, 5.0), high = Percentile(sorted, 95.0);
  char why[240];
  if (LogLevel(high) - LogLevel(low) <= std::log(kNoiseSpread))
    std::snprintf(why, sizeof why,
                  "no clear separation: nothing moves (camera noise alone): 90 %% of the values lie between %d and %d",
                  low, high);
  else
    std::snprintf(why, sizeof why,
                  "no clear separation: motion throughout (no still stretch): 90 %% of the values spread from %d to %d",
                  low, high);
  return why;
}

}  // namespace

int StillFloor(int samplePoints) { return std::max(1, samplePoints / 100); }

MotionLevels LevelsOf(std::vector<int> still, std::vector<int> moving, int samplePoints) {
  MotionLevels m;
  m.stillCount = static_cast<int>(still.size());
  m.movingCount = static_cast<int>(moving.size());
  const int top = Percentile(still, 99.0);
  m.stillLow = Percentile(still, 1.0);
  m.still = std::max(top, StillFloor(samplePoints));
  m.motion = Percentile(moving, 5.0);
  const bool both = m.stillCount > 0 && m.movingCount > 0;
  m.margin = both ? static_cast<double>(m.motion) / m.still : 0.0;
  const double spread = std::max(LogLevel(top) - LogLevel(m.stillLow), kNarrowest);
  m.separation = both ? (LogLevel(m.motion) - LogLevel(m.still)) / spread : 0.0;
  char why[240];
  if (m.stillCount < kMinLevelValues || m.movingCount < kMinLevelValues) {
    std::snprintf(why, sizeof why, "%d still and %d moving values; at least %d of each are needed", m.stillCount,
                  m.movingCount, kMinLevelValues);
    m.why = why;
    return m;
  }
  if (m.separation < kMinSeparation) {
    std::snprintf(why, sizeof why,
                  "no clear separation: the motion level %d is %.2f times the still level %d, a gap of %.2f times "
                  "the still values' own spread, below %.1f",
                  m.motion, m.margin, m.still, m.separation, kMinSeparation);
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
  const size_t n = sorted.size(), least = static_cast<size_t>(kMinLevelValues);
  // Running sums of the logarithms and their squares: each split's two classes in O(1).
  std::vector<double> sum(n + 1, 0.0), squares(n + 1, 0.0);
  for (size_t k = 0; k < n; ++k) {
    const double x = LogLevel(sorted[k]);
    sum[k + 1] = sum[k] + x;
    squares[k + 1] = squares[k] + x * x;
  }
  // Minimum error: the split whose two normal humps (weights w, variances v) explain the values
  // best, w0 ln v0 + w1 ln v1 - 2 (w0 ln w0 + w1 ln w1) smallest.
  double best = 0.0;
  size_t cut = 0;  // values [0, cut) are still; 0 = no split
  for (size_t k = least; k + least <= n; ++k) {
    if (sorted[k] == sorted[k - 1]) continue;
    const double w0 = static_cast<double>(k) / static_cast<double>(n), w1 = 1.0 - w0;
    const double v0 = ClassVariance(sum[k], squares[k], k);
    const double v1 = ClassVariance(sum[n] - sum[k], squares[n] - squares[k], n - k);
    const double error = w0 * std::log(v0) + w1 * std::log(v1) - 2.0 * (w0 * std::log(w0) + w1 * std::log(w1));
    if (cut == 0 || error < best) {
      best = error;
      cut = k;
    }
  }
  if (split) *split = cut > 0 ? sorted[cut - 1] : n == 0 ? 0 : sorted.back();
  if (n == 0) {
    MotionLevels m = LevelsOf({}, {}, samplePoints);
    m.why = "no motion values";
    return m;
  }
  // Without a split every value counts as still: nothing moves against anything.
  const long at = cut > 0 ? static_cast<long>(cut) : static_cast<long>(n);
  MotionLevels m = LevelsOf(std::vector<int>(sorted.begin(), sorted.begin() + at),
                            std::vector<int>(sorted.begin() + at, sorted.end()), samplePoints);
  // Too few values for two classes keeps LevelsOf's reason; otherwise the values are one hump.
  if (!m.separated && n >= 2 * least) m.why = OneHump(sorted);
  return m;
}

}  // namespace orv
