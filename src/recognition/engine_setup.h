// What the learning sets up for the recognizer and the frame source's review of recorded pass
// frames. The learning and the teaching write it; the recognizer reads it.
#pragma once
#include <array>
#include <cstdint>

#include "common/limits.h"
#include "kb/learning_state.h"

namespace orv {

struct EngineSetup {
  // Per feature map (0 reference, 1 difference, 2 foreground, 3 spare, 4 edge): view points kept
  // by the view-point selection that read it; 0 = the map is not computed. Written by the
  // view-point selection (learning); read by the motion maps.
  std::array<int, 5> MapEnable{1, 1, 1, 1, 1};
  // Per gesture: largest phase step (learned frames) a frame may take while the matching is
  // unsteady (SampleSpread above OK_VAR); set by the template building (learning), tightened by
  // the judgement; also read by the followability verdict.
  std::array<double, kGestures> PhaseStepLimit{5.0, 5.0, 5.0, 5.0, 5.0, 5.0, 5.0, 5.0};
  // Signature weight by radius per mille (0..999 -> 0..1), favouring the rim; filled by
  // BuildKernelTables (learning); read by the radial signature.
  std::array<double, kLevels> RadialWeight{};
  // 0 live frames, 1 the frame source feeds back the recorded pass frames (review). Set by the
  // learning hand-off after the last pass, back to 0 by the end of the review; the teaching and
  // the main loop wait while it is 1.
  int REVIEW_MODE = 0;
  char ReviewText[64] = {};  // composed per fed-back frame ("re-imaging past frames"); shown by no one yet
  bool operator==(const EngineSetup&) const = default;
};
extern EngineSetup engine;

// Frames recorded during the current learning pass, 80x60 grey, row-major (RecordedFrames of
// them are in use); fed back in review.
extern std::array<std::array<uint8_t, kGriPixels>, kSeqFrames> PassFrames;

}  // namespace orv
