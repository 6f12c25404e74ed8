// Knowledge base and learning state. Extended by the engine.
#pragma once
#include <array>
#include <cstdint>
#include "common/limits.h"

namespace orv {

struct LearningState {
  int DThreshold = 40;
  int LearningPasses = 0;
  int REVIEW_MODE = 0;
  int NEROI = 32;
  double SKIP = 1.0;
  double RSKIP = 1.0;
  std::array<double, kGestures> OK_VAR{2000000, 2000000, 2000000, 2000000,
                                       2000000, 2000000, 2000000, 2000000};
};
extern LearningState learn;

}  // namespace orv
