// Recognition driver: motion sequences, frame records, still counter, abort path.
#include <gtest/gtest.h>

#include "kb/kb_fixture.h"
#include "kb/learning_state.h"
#include "player/player_state.h"
#include "recognition/engine_fixture.h"
#include "learning/learning.h"
#include "recognition/recognition.h"
#include "recognition/driver.h"

using namespace orv;
using namespace orvtest;

namespace {

struct DriverTest : EngineTest {
  void SetUp() override {
    EngineTest::SetUp();
    ResetRecognition();
    ResetGestureTables();
    BuildKernelTables();
    ResetEngineCaches();
  }
  // Runs n frames of a moving square through the engine (driver, then the hand-off).
  void Motion(int n, int learnGesture = -1) {
    for (int i = 0; i < n; ++i) {
      MotionFrame(++frame_);
      RunEngineFrame(learnGesture, LatestGrayFrame());
    }
  }
  void Still(int learnGesture = -1) {
    // The same picture as the last one: no difference.
    MotionFrame(frame_);
    RunEngineFrame(learnGesture, LatestGrayFrame());
  }
  int frame_ = 0;
};

void AllViewsOff() { learn.RoiActive.fill(0); }

}  // namespace

TEST_F(DriverTest, FirstFrameAfterAResetPrimesBothBuffers) {
  MotionFrame(3);
  DriveGRI(-1, LatestGrayFrame());
  EXPECT_EQ(recog.DiffPixelCount, 0.0);
  EXPECT_EQ(recog.mflg, 0);
  EXPECT_TRUE(recog.GrayFrame[0] == recog.GrayFrame[1]);
  EXPECT_EQ(recog.JudgedGesture, -2);
}

TEST_F(DriverTest, ShortBurstsAreDroppedAndWhileLearningTheirSamplesGo) {
  AllViewsOff();
  // While passes run, a frame that cannot be judged still counts.
  learn.LearningPasses = 1;
  Still();
  Motion(3);
  EXPECT_EQ(recog.mflg, 3);
  Still();
  learn.LearningPasses = 0;
  EXPECT_EQ(recog.mflg, 0);
  EXPECT_EQ(recog.DiffPixelCount, -1.0);  // reset: the next frame primes again
  EXPECT_EQ(recog.JudgedGesture, -2);

  // While gesture 0 is learned, its stored samples are discarded; gesture 1 keeps its own.
  StorePattern(5, 0, 0, 1.0);
  StorePattern(5, 1, 0, 1.0);
  learn.SampleHigh[5][0] = 1, learn.SampleHigh[9][0] = 4, learn.SampleHigh[5][1] = 1;
  Still(0);
  Motion(2, 0);
  Still(0);
  EXPECT_EQ(recog.mflg, 0);
  EXPECT_EQ(PatternPresent[5][0][0], 0);
  EXPECT_EQ(learn.SampleHigh[9][0], -1);
  EXPECT_EQ(PatternPresent[5][1][0], 1);
  EXPECT_EQ(learn.SampleHigh[5][1], 1);
}

TEST_F(DriverTest, ASequenceOfFourFramesGetsItsFinalJudgementAndHandOff) {
  AllViewsOff();
  Still(1);
  Motion(4, 1);
  Still(1);
  EXPECT_EQ(learn.GestureInfo[1].length, 4);
  EXPECT_EQ(recog.mflg, 0);
  EXPECT_EQ(recog.PHASE, -1);
}

TEST_F(DriverTest, AFullSequenceEndsWithMflg200OnTheNextMotionFrame) {
  AllViewsOff();
  Still(2);
  Motion(200, 2);
  EXPECT_EQ(recog.mflg, 200);
  for (int l : {0, 13, 31})
    for (int f : {0, 199}) {
      const ViewFrameEntry& e = recog.FrameRecord[l][f];
      for (int k = 0; k < kGestures; ++k) {
        EXPECT_EQ(e.gesture[k], -1);
        EXPECT_EQ(e.sample[k], 0);
      }
    }
  Motion(1, 2);
  EXPECT_EQ(learn.GestureInfo[2].length, 200);
  EXPECT_EQ(recog.mflg, 0);
}

TEST_F(DriverTest, LearningPassesWriteOneSampleRecordPerFrameAndWrap) {
  AllViewsOff();
  learn.LearningPasses = 1;
  learn.pos_num = 3;
  learn.SampleCount[3] = 199;
  SampleTable[3][0][0][199] = SampleRecord{5, 0, 0.5, 9.0};
  Still();
  Motion(1);
  EXPECT_EQ(SampleTable[3][0][0][199].valid, 0);
  EXPECT_EQ(SampleTable[3][0][0][199].sample, 0.0);
  EXPECT_EQ(learn.SampleCount[3], 200);
  SampleTable[3][7][31][0].valid = 5;
  Motion(1);
  EXPECT_EQ(SampleTable[3][7][31][0].valid, 0);
  EXPECT_EQ(learn.SampleCount[3], 1);
}

TEST_F(DriverTest, StillCounterWrapsAfterGrateTimesSixty) {
  AllViewsOff();
  learn.GRATE = 1;
  for (int i = 0; i < 60; ++i) Still();
  EXPECT_EQ(recog.StillFrameCount, 60);
  Still();
  EXPECT_EQ(recog.StillFrameCount, 0);
  Motion(1);  // counted from the previous (still) frame
  EXPECT_EQ(recog.StillFrameCount, 1);
  Motion(1);  // the previous frame moved
  EXPECT_EQ(recog.StillFrameCount, 0);
}

TEST_F(DriverTest, AViewWithoutKnowledgeAbortsTheFrame) {
  Still();
  Motion(1);
  EXPECT_EQ(recog.mflg, 0);  // the frame did not count
  EXPECT_EQ(recog.JudgedGesture, -2);
  EXPECT_EQ(recog.PHASE, -4);
  for (int k = 0; k < kGestures; ++k) {
    EXPECT_EQ(recog.ViewGesture[0][k], -1);
    EXPECT_EQ(recog.ViewBestSample[0][k], 0);
  }
}

TEST_F(DriverTest, AFailedViewWhileLearningDropsTheLaterSamplesOfTheGesture) {
  learn.RoiActive.fill(0);
  learn.RoiActive[0] = 1;  // difference map, difference region
  for (int s = 0; s < kSeqFrames; ++s) StorePattern(3, 0, s, 1.0);
  Still(0);
  Motion(3, 0);
  ASSERT_EQ(recog.mflg, 3);
  EXPECT_EQ(PatternPresent[0][0][2], 1);  // learned at view 0

  // One changed pixel: a region of radius 0 cannot be described.
  MotionFrame(frame_);
  player.GrayFrames[1 - player.GrayIndex][(4 * 10) * kCamW + 4 * 10] = 250;
  DriveGRI(0, LatestGrayFrame());
  EXPECT_EQ(recog.mflg, 3);
  EXPECT_EQ(PatternPresent[3][0][2], 1);
  EXPECT_EQ(PatternPresent[3][0][3], 0);
  EXPECT_EQ(PatternPresent[3][0][199], 0);
  EXPECT_EQ(PatternPresent[0][0][2], 1);
}

TEST_F(DriverTest, ALearnedMotionIsComparedInEveryView) {
  Still(0);
  Motion(12, 0);
  Still(0);
  ASSERT_EQ(learn.GestureInfo[0].length, 12);
  for (int v = 0; v < kViews; ++v) ASSERT_EQ(learn.SampleHigh[v][0], 12) << "view " << v;

  // Evidence for the learned gesture, as its protocol map and templates would give it.
  for (auto& levels : ProtocolMap[0][0]) levels.fill(1.0);
  learn.GestureWeight[0] = 1.0;
  learn.RateLimit[0] = 1.0;
  frame_ = 0;
  Still();
  Motion(6);
  ASSERT_EQ(recog.mflg, 6);
  for (int v : {0, 5, 18, 31}) {
    const ViewFrameEntry& e = recog.FrameRecord[v][5];
    EXPECT_EQ(e.gesture[0], 0) << "view " << v;
    EXPECT_EQ(e.gesture[1], -1);
  }
}
