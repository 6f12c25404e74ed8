// Learning passes: the end of every judged motion sequence closes a pass of the gesture
// being learned, rates its view points, rebuilds its protocol map and counts the passes
// down; after the last one the recorded frames are reviewed (see the frame source).
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "kb/learning_state.h"
#include "common/platform.h"
#include "learning/learning_work.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "common/timer.h"
#include "learning/learning.h"
#include "recognition/driver.h"
#include "recognition/recognition.h"

namespace orv {

namespace {

// A learning text goes to the player's hook (console and window) or, without one, to the
// console; the latest stays in learning.LearningText.
__attribute__((format(printf, 1, 2))) void ShowText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(learning.LearningText, sizeof learning.LearningText, format, args);
  va_end(args);
  if (EngineShowText) {
    EngineShowText(learning.LearningText);
  } else {
    std::printf("%s\n", learning.LearningText);
    std::fflush(stdout);
  }
}

}  // namespace

void RunEngineFrame(int learnGesture, const std::array<uint8_t, kCamPixels>& gray) {
  const bool reviewing = engine.REVIEW_MODE == 1;
  const bool ended = DriveGRI(learnGesture, gray);
  // A review ends inside the frame source, with the new limits set: the gesture's final shape.
  if (reviewing && engine.REVIEW_MODE == 0) JudgeFollowability(learn.pos_num);
  if (!ended) return;
  LearningHandOff(learnGesture);
  if (learnGesture >= 0 && learnGesture < kGestures) JudgeFollowability(learnGesture);
}

void LearningHandOff(int learnGesture) {
  recog.PHASE = -1;
  if (learnGesture >= 0 && learnGesture < kGestures)
    learn.GestureInfo[learnGesture].length = std::clamp(recog.mflg, 0, kSeqFrames);
  ResetRecognition();
  if (learn.LearningPasses <= 0) return;

  const int g = learn.pos_num;
  if (g >= 0 && g < kGestures) {
    BuildTemplate(g, 1);
    BuildProtocolMap(g);
  }
  if (learn.LearningPasses == 1) {
    engine.REVIEW_MODE = 1;
    learn.ReviewFrame = 0;
  }
  --learn.LearningPasses;
  if (learn.LearningPasses <= 0) return;

  // The performer gets three seconds to return to the start of the motion.
  const std::string name = GestureName(g);
  for (int n = 3; n >= 1; --n) {
    learning.TeachCountdown = n;
    ShowText("---> START THE LEARNING OF SIMILAR BODY MOTION for [ %s ]. GET READY! (%d)", name.c_str(), n);
    if (!EngineWait) {
      WaitOneSecond();
    } else if (!EngineWait(1000)) {
      learning.TeachCountdown = 0;
      return;  // cancelled: the player restores what the teaching changed
    }
  }
  learning.TeachCountdown = 0;
  if (learn.CamBeep) {
    Bell();
    std::printf("\n");
  }
  ShowText("*** LEARNING SIMILAR BODY MOTION for [ %s ] ***", name.c_str());
}

}  // namespace orv
