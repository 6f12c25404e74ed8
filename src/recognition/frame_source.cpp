// The engine's frame source: live 80x60 frames from the camera buffers, recording of the
// frames of a learning pass, and their feed-back in review.
#include <cstdio>
#include <cstring>

#include "kb/learning_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "recognition/recognition.h"

namespace orv {

namespace {

// Turns the review statistics of gesture g into its judgement limits.
void EndReview() {
  engine.REVIEW_MODE = 0;
  learn.ReviewFrame = 0;
  learn.RecordedFrames = 0;
  const int g = learn.pos_num;
  if (g >= 0 && g < kGestures) {
    const auto& sum = learn.JudgeSum[g];
    const auto& count = learn.JudgeCount[g];
    if (count[0] > 0) learn.RateLimit[g] = sum[0] * learn.RF_COEFFICIENT / count[0];
    if (count[1] > 0) learn.OK_VAR[g] = sum[1] * 2.5 / count[1];
    if (count[2] > 0) learn.MatchLimit[g] = sum[2] / count[2];
    if (!(learn.MatchLimit[g] >= 0.92)) learn.MatchLimit[g] = 0.92;  // NaN too
  }
  ResetRecognition();
}

}  // namespace

void FeedFrame(const std::array<uint8_t, kCamPixels>& gray) {
  auto& current = recog.GrayFrame[recog.GrayFrameIndex & 1];

  if (engine.REVIEW_MODE == 1) {
    if (learn.RecordedFrames < 0 || learn.RecordedFrames > kSeqFrames - 1) learn.RecordedFrames = 0;
    if (learn.ReviewFrame < 0) learn.ReviewFrame = 0;
    if (learn.ReviewFrame <= learn.RecordedFrames) {
      current = PassFrames[learn.ReviewFrame];
      ++learn.ReviewFrame;
      std::snprintf(engine.ReviewText, sizeof engine.ReviewText,
                    "Now, re-imaging past frames. [ Frame number=%3d ]", learn.ReviewFrame);
      if (learn.ReviewFrame <= learn.RecordedFrames) return;
    }
    EndReview();
  }

  // Live frame: every fourth pixel of every fourth row of the camera's grey frame.
  for (int r = 0; r < kGriH; ++r)
    for (int c = 0; c < kGriW; ++c) current[r * kGriW + c] = gray[(4 * r) * kCamW + 4 * c];
  recog.GrayFrameCopy = current;

  // Recording: the previous frame, when it showed motion.
  if (learn.LearningPasses > 0 && recog.DiffPixelCount > 0 && learn.RecordedFrames >= 0 &&
      learn.RecordedFrames < kSeqFrames - 1) {
    PassFrames[learn.RecordedFrames] = recog.GrayFrame[1 - (recog.GrayFrameIndex & 1)];
    ++learn.RecordedFrames;
    PassFrames[learn.RecordedFrames].fill(0);
  }
}

}  // namespace orv
