// Automatic learning: the steps that teach the chosen gestures one after the other (standard
// motion, then a pass each), and the calibration of VR_step and VR_threshold at its end.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "control/control_state.h"
#include "kb/learning_state.h"
#include "common/limits.h"
#include "player/player_state.h"
#include "common/timer.h"
#include "control/control.h"
#include "control/operator_view.h"
#include "control/teaching.h"
#include "kb/banners.h"
#include "player/motion.h"
#include "player/player.h"

namespace orv {

namespace {

// --- the calibration ---

// VR_step and VR_threshold from what automatic learning saw: one learned length of gesture 0
// spans the replay period, and the threshold goes between the room standing still (the
// frames the stillness checks judged still) and the learned motion (its judged frames), by
// the rule orvante-tune applies to a rehearsal. The mean of the learned motion alone, the
// older rule, puts about half of the moving frames below the threshold by construction.
void Calibrate() {
  const int length = learn.GestureInfo[0].length;
  const int start = player.StartFrameNum, end = player.EndFrameNum;
  if (length > 3 && start < end && (start > 0 || end > 0)) {
    player.VR_step = (static_cast<double>(end) - start) / length;
    std::printf("\n--> Updated [ VR_step ]\n");
  }
  std::printf("*** VR_step=[ %6.3f ],   G[ 0 ].frame_num=[ %d ],   StartFrameNum=[ %d ],   EndFrameNum=[ %d ]\n",
              player.VR_step, length, start, end);
  const auto still = control.StillValues.begin(), moving = control.MovingValues.begin();
  const MotionLevels m = LevelsOf(std::vector<int>(still, still + std::clamp(control.StillCount, 0, kCalibrationValues)),
                                  std::vector<int>(moving, moving + std::clamp(control.MovingCount, 0, kCalibrationValues)),
                                  SamplePoints());
  if (m.separated) {
    player.VR_threshold = m.threshold;
    // The command step reloads VR_threshold from the threshold file every cycle; without the
    // file the calibrated value would be gone at the next cycle.
    WriteThreshold(player.VR_threshold);
    std::printf("\n--> Updated [ VR_threshold ]: between the still level %d and the motion level %d (separation %.2f)\n",
                m.still, m.motion, m.separation);
  } else {
    std::printf("\nVR_threshold is kept: %s.\n", m.why.c_str());
  }
  std::printf("*** VR_threshold=[ %d ],   DifferenceSum2=[ %d ],   DifferenceCnt=[ %d ]\n\n", player.VR_threshold,
              control.DifferenceSum2, control.DifferenceCnt);
  control.DifferenceSum2 = 0;
  control.DifferenceCnt = 0;
  control.StillCount = 0;
  control.MovingCount = 0;
  WaitOneSecond();
}

}  // namespace

// A frame the stillness check judged still: its grey difference to the frame before is what
// the camera makes of the room at rest.
void KeepStillValue() {
  if (player.CameraOn == 0 || control.StillCount < 0 || control.StillCount >= kCalibrationValues) return;
  control.StillValues[static_cast<size_t>(control.StillCount++)] = GreyDifferenceSum();
}

// --- the steps ---

void AutoLearningStep() {
  if (control.AutoLearnMode <= 0 || LearningPending()) return;
  const int last = std::clamp(control.AutoLearnLast, 0, kGestures - 1);
  const int first = control.AutoLearnMode == 1 ? 0 : last;
  for (int g = first; g <= last; ++g) {
    if (!HasStandardMotion(g)) {
      StandardMotionEntry(g, true);
      return;
    }
  }
  for (int g = first; g <= last; ++g) {
    if (learn.SampleCount[static_cast<size_t>(g)] == 0) {
      SimilarMotionEntry(g, 1, true);
      return;
    }
  }
  ShowLearningText("Automatic learning has been finished.");
  control.AutoLearnMode = 0;
  PrintFinishedBanner(FinishedBanner::AutoLearning);
  Calibrate();
}

}  // namespace orv
