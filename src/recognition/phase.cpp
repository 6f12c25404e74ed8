// The judgement's phase estimate, shared with the verdict on a taught motion: the raw phase
// of a frame from its views, its smoothing and rescaling, and the step limit's tightening.
#include "recognition/phase.h"

#include <algorithm>
#include <cmath>

#include "kb/learning_state.h"

namespace orv {

namespace {

constexpr double kMaxPhase = 200.0;

}  // namespace

// --- protocol-map level ---

// Similarities are 0..1; anything else (or NaN) is kept inside the table rather than read past it.
int SimilarityLevel(double s) {
  const double x = 999.0 * s;
  if (!(x > 0.0)) return 0;
  if (x >= kLevels - 1) return kLevels - 1;
  return static_cast<int>(x);
}

// --- raw phase ---

double LimitStep(double value, double ref, double limit) {
  if (std::fabs(value - ref) <= limit) return value;
  return value > ref ? ref + limit : ref - limit;
}

bool PhaseFromViews(std::array<double, kViews>& evidence, const std::array<int, kViews>& sample,
                    std::array<double, kViews>& weight, double& phase) {
  double m = 0.0;
  for (int v = 0; v < kViews; ++v)
    if (learn.RoiActive[v] && evidence[v] > m) m = evidence[v];
  if (!(m > 0.0)) return false;
  double acc = -1.0, sum = 0.0;
  for (int v = 0; v < kViews; ++v) {
    if (!learn.RoiActive[v]) continue;
    double w = evidence[v];
    if (m != 1.0) evidence[v] = w /= m;  // once normalised, m stays exactly 1
    weight[v] = w;
    acc += w * sample[v];
    sum += w;
  }
  if (!(sum > 0.0)) return false;
  const double p = acc / sum;
  if (std::isnan(p)) return false;
  phase = std::min(std::max(p, 1.0), kMaxPhase);
  return true;
}

// --- smoothing and step limit ---

double SmoothRawPhase(double& p, double before, double limit, double length, std::array<double, 5>& ring5,
                      int index5, std::array<double, 3>& ring3, int index3) {
  if (before >= 1.0) p = LimitStep(p, before, limit);

  ring5[index5] = p;
  double sum = 0.0;
  int n = 0;
  for (double e : ring5)
    if (e > 0.0) sum += e, ++n;
  const double a = n > 0 ? sum / n : p;  // p itself is at least 1, so n >= 1
  for (double& e : ring5)
    if (e > 0.0) e = LimitStep(e, a, limit);

  ring3[index3] = a;
  double v = a;
  if (ring3[2] > 0.0) {
    // The median comes from a sorted copy: the ring keeps its order, so the next entry
    // still replaces the oldest one.
    std::array<double, 3> sorted = ring3;
    std::sort(sorted.begin(), sorted.end());
    const double b = sorted[1];
    for (double& e : ring3) e = LimitStep(e, b, limit);
    v = b;
  }

  // The first 30 % of the learned motion map to phase 1, 30..70 % stretch over the whole length.
  double phi = v - 0.3 * length >= 1.0 ? std::min((v - 0.3 * length) / 0.4, length) : 1.0;
  if (phi > length) phi = length;
  if (phi < 1.0) phi = 1.0;
  return phi;
}

bool TightenStepLimit(double& limit, double phi, double before) {
  if (!(phi > 0.0 && before > 0.0 && std::fabs(phi - before) > limit && limit > 1.0)) return false;
  limit -= 0.5;
  return true;
}

}  // namespace orv
