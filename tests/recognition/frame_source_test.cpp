// Frame source: live subsampling, pass recording, review and the limits it sets.
#include <gtest/gtest.h>

#include "kb/kb_fixture.h"
#include "kb/learning_state.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition.h"

using namespace orv;
using namespace orvtest;

namespace {

void FillPass(int frames) {
  for (int i = 0; i < frames; ++i) PassFrames[i].fill(static_cast<uint8_t>(100 + i));
  learn.RecordedFrames = frames;
  learn.ReviewFrame = 0;
  engine.REVIEW_MODE = 1;
}

}  // namespace

TEST(FrameSource, LiveFrameIsEveryFourthPixelOfTheLastCapture) {
  player.GrayIndex = 0;  // the last capture is buffer 1
  for (int i = 0; i < kCamPixels; ++i) player.GrayFrames[1][i] = static_cast<uint8_t>(i % 251);
  player.GrayFrames[0].fill(0);
  recog.GrayFrameIndex = 1;
  FeedFrame(LatestGrayFrame());
  for (int r : {0, 17, 59})
    for (int c : {0, 33, 79}) {
      const uint8_t want = static_cast<uint8_t>(((4 * r) * 320 + 4 * c) % 251);
      EXPECT_EQ(recog.GrayFrame[1][r * 80 + c], want);
      EXPECT_EQ(recog.GrayFrameCopy[r * 80 + c], want);
    }
  EXPECT_EQ(recog.GrayFrame[0][80 * 17 + 33], 0);
}

TEST(FrameSource, RecordsThePreviousFrameOnlyAfterMotionWhileLearning) {
  StillFrame();
  recog.GrayFrame[0].fill(55);  // the previous frame
  recog.GrayFrameIndex = 1;
  PassFrames[1].fill(9);

  recog.DiffPixelCount = 0;  // a pass in which nothing moved records nothing
  learn.LearningPasses = 1;
  FeedFrame(LatestGrayFrame());
  EXPECT_EQ(learn.RecordedFrames, 0);

  recog.DiffPixelCount = 30;
  learn.LearningPasses = 0;  // not learning
  FeedFrame(LatestGrayFrame());
  EXPECT_EQ(learn.RecordedFrames, 0);

  learn.LearningPasses = 2;
  FeedFrame(LatestGrayFrame());
  EXPECT_EQ(learn.RecordedFrames, 1);
  EXPECT_EQ(PassFrames[0][4799], 55);
  EXPECT_EQ(PassFrames[1][0], 0);  // the next slot is cleared

  learn.RecordedFrames = 199;  // full: at most 199 frames per pass
  FeedFrame(LatestGrayFrame());
  EXPECT_EQ(learn.RecordedFrames, 199);
}

TEST(FrameSource, ReviewFeedsTheRecordedFramesThenALiveOne) {
  StillFrame();
  FillPass(5);
  recog.mflg = 7;
  for (int i = 0; i < 5; ++i) {
    FeedFrame(LatestGrayFrame());
    EXPECT_EQ(recog.GrayFrame[recog.GrayFrameIndex][0], 100 + i);
    EXPECT_EQ(engine.REVIEW_MODE, 1);
    EXPECT_EQ(learn.ReviewFrame, i + 1);
  }
  EXPECT_STREQ(engine.ReviewText, "Now, re-imaging past frames. [ Frame number=  5 ]");
  FeedFrame(LatestGrayFrame());  // the sixth call ends the review and shows a live frame
  EXPECT_EQ(engine.REVIEW_MODE, 0);
  EXPECT_EQ(learn.RecordedFrames, 0);
  EXPECT_EQ(learn.ReviewFrame, 0);
  EXPECT_EQ(recog.GrayFrame[recog.GrayFrameIndex][0], 10);
  EXPECT_EQ(recog.mflg, 0);  // recognition reset
  EXPECT_EQ(recog.DiffPixelCount, -1.0);
}

TEST(FrameSource, ReviewOfNoFramesEndsInTheSameCall) {
  StillFrame();
  FillPass(0);
  PassFrames[0].fill(77);
  FeedFrame(LatestGrayFrame());
  EXPECT_EQ(engine.REVIEW_MODE, 0);
  EXPECT_EQ(recog.GrayFrame[recog.GrayFrameIndex][0], 10);
}

TEST(FrameSource, EndOfReviewSetsTheGestureLimits) {
  StillFrame();
  learn.pos_num = 4;
  learn.RF_COEFFICIENT = 0.5;
  learn.JudgeSum[4] = {30.0, 400.0, 47.5};
  learn.JudgeCount[4] = {3, 100, 50};
  FillPass(0);
  FeedFrame(LatestGrayFrame());
  EXPECT_DOUBLE_EQ(learn.RateLimit[4], 5.0);
  EXPECT_DOUBLE_EQ(learn.OK_VAR[4], 10.0);
  EXPECT_DOUBLE_EQ(learn.MatchLimit[4], 0.95);  // above the floor: kept

  // No counts: the limits stay, except that MatchLimit is raised to 0.92.
  learn.JudgeCount[4] = {0, 0, 0};
  learn.MatchLimit[4] = 0.5;
  FillPass(0);
  FeedFrame(LatestGrayFrame());
  EXPECT_DOUBLE_EQ(learn.RateLimit[4], 5.0);
  EXPECT_DOUBLE_EQ(learn.OK_VAR[4], 10.0);
  EXPECT_DOUBLE_EQ(learn.MatchLimit[4], 0.92);

  // A learned value below the floor is raised too; other gestures are untouched.
  learn.JudgeSum[4][2] = 8.0, learn.JudgeCount[4][2] = 10;
  FillPass(0);
  FeedFrame(LatestGrayFrame());
  EXPECT_DOUBLE_EQ(learn.MatchLimit[4], 0.92);
  EXPECT_DOUBLE_EQ(learn.MatchLimit[3], 0.999999);
}
