// The judgement's phase, step by step: where in a taught motion the performer is, from the
// best-matching samples of the views. The judgement runs it on the engine's own state; the
// verdict on a taught motion runs it on copies, and both must estimate exactly alike.
#pragma once
#include <array>

#include "common/limits.h"

namespace orv {

constexpr double kNoLow = 201.0;  // lowest phase before any phase: above every phase (1..200)
constexpr double kNoHigh = -1.0;  // highest phase before any phase: below every phase

// Protocol-map level of a similarity: trunc(999 s), kept within 0..999.
int SimilarityLevel(double s);
// value moved to ref +- limit when it lies farther than limit from ref.
double LimitStep(double value, double ref, double limit);
// Raw phase of one frame: the best sample numbers of the active views, each weighted by its
// evidence relative to the strongest view (evidence normalised in place, weights of the
// active views into `weight`), limited to 1..200; false when no view has evidence.
bool PhaseFromViews(std::array<double, kViews>& evidence, const std::array<int, kViews>& sample,
                    std::array<double, kViews>& weight, double& phase);
// Its smoothing: p limited to `before` +- limit (when before >= 1; p comes back limited),
// the five- and three-entry rings at the given slots (the caller advances them), and the
// rescaling to the learned length: the smoothed phase, 1..length.
double SmoothRawPhase(double& p, double before, double limit, double length, std::array<double, 5>& ring5,
                      int index5, std::array<double, 3>& ring3, int index3);
// A jump of the smoothed phase from `before` larger than the limit lowers the limit by 0.5
// while it is above 1.0 (true when lowered; the caller keeps it at 1.0 or more).
bool TightenStepLimit(double& limit, double phi, double before);

}  // namespace orv
