// Gesture slots, kernel tables, learning preparation and the engine preparation.
#include <gtest/gtest.h>

#include <cmath>

#include "common/app_state.h"
#include "kb_fixture.h"
#include "learning/learning.h"
#include "recognition/recognition.h"

using namespace orv;
using namespace orvtest;

TEST(KernelTables, FollowOkHigh) {
  BuildKernelTables();
  EXPECT_EQ(learn.MapKernel[0], 4.0);
  EXPECT_NEAR(learn.MapKernel[100], std::exp(-2.5) + std::exp(-1.25) + std::exp(-5.0) + std::exp(-10.0), 1e-15);
  EXPECT_NEAR(learn.MapKernel[100], 0.3754, 1e-4);
  EXPECT_EQ(learn.RadialWeight[999], 1.0);
  EXPECT_NEAR(learn.RadialWeight[0], std::exp(-5.0 * 999.0 * 999.0 / 1e6), 1e-18);
  learn.OK_HIGH = 1000;
  BuildKernelTables();
  EXPECT_NEAR(learn.MapKernel[100], std::exp(-5.0) + std::exp(-2.5) + std::exp(-10.0) + std::exp(-20.0), 1e-15);
}

TEST(PrepareEngine, WithoutAKnowledgeBaseTheMotionPlayerStays) {
  InTempDir cwd;
  BuildKernelTables();
  learn.OK_HIGH = 10;  // would change the kernel if anything were built
  recog.mflg = 5;
  PrepareEngine();
  EXPECT_EQ(app.PlayerMode, 1);
  EXPECT_EQ(recog.mflg, 5);
  EXPECT_NEAR(learn.MapKernel[100], 0.3754, 1e-4);
}

TEST(PrepareEngine, ALoadHandsThePlayerToTheEngine) {
  InTempDir cwd;
  learn.OK_HIGH = 1000;
  testing::internal::CaptureStdout();
  WriteKB();
  learn = LearningState{};
  recog.mflg = 5, recog.DiffPixelCount = 3, recog.PHASE = 7, recog.JudgedGesture = 2, recog.rv = 4.5;
  std::strcpy(recog.JudgedName + 1, "wave");
  PrepareEngine();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(app.PlayerMode, 0);
  EXPECT_EQ(recog.mflg, 0);
  EXPECT_EQ(recog.DiffPixelCount, -1.0);
  EXPECT_EQ(recog.PHASE, -4);
  EXPECT_EQ(recog.JudgedGesture, -2);
  EXPECT_EQ(recog.JudgedName[1], '\0');
  EXPECT_EQ(recog.rv, 4.5);
  EXPECT_EQ(learn.MapKernel[0], 4.0);
  EXPECT_NEAR(learn.MapKernel[100], std::exp(-5.0) + std::exp(-2.5) + std::exp(-10.0) + std::exp(-20.0), 1e-15);
}

TEST(GestureSlots, DiscardReleasesOneGestureOnly) {
  StorePattern(0, 2, 0, 1.0);
  StorePattern(31, 2, 199, 1.0);
  StorePattern(0, 3, 0, 1.0);
  for (auto& row : learn.SampleHigh) row.fill(5);
  DiscardSamples(2);
  EXPECT_EQ(PresentCount(), 1);
  EXPECT_EQ(Patterns->Re[31][2][199][5], 0.0);  // the bytes are cleared too
  for (int v = 0; v < kViews; ++v) {
    EXPECT_EQ(learn.SampleHigh[v][2], -1);
    EXPECT_EQ(learn.SampleHigh[v][3], 5);
  }
  DiscardSamples(4);  // nothing stored: SampleHigh stays
  EXPECT_EQ(learn.SampleHigh[7][4], 5);
  DiscardSamples(8);  // not a gesture
  DiscardSamples(-1);
  ReleaseKnowledgeBase();
  EXPECT_EQ(PresentCount(), 0);
  EXPECT_EQ(Patterns, nullptr);
}

TEST(GestureSlots, PrepareLearningClearsTheLearnedGestureAndKeepsTheOthersLimits) {
  learn.pos_num = 5;
  StorePattern(3, 5, 0, 1.0);
  StorePattern(3, 6, 0, 1.0);
  learn.GestureInfo[6].length = 40;
  learn.SampleCount[6] = 9;
  ProtocolMap[6][6][2][500] = 1.0;
  SampleTable[1][1][0][0].valid = 1;
  learn.ViewTemplate[4][4][3] = 0.3;
  learn.GestureWeight[2] = 7.0;
  for (int g : {5, 6}) {
    learn.RateLimit[g] = 3.0;
    learn.JudgeCount[g] = {1, 2, 3};
    learn.JudgeSum[g] = {1.0, 2.0, 3.0};
    learn.RoiWeightSum[g][31] = 2.0;
  }
  recog.mflg = 9;

  PrepareLearning();
  EXPECT_EQ(learn.GestureInfo[6].length, 0);
  EXPECT_EQ(recog.mflg, 0);
  EXPECT_EQ(learn.SampleCount[6], 0);
  EXPECT_EQ(ProtocolMap[6][6][2][500], 0.0);
  EXPECT_EQ(SampleTable[1][1][0][0].valid, 0);
  EXPECT_EQ(learn.ViewTemplate[4][4][3], 1.0);
  EXPECT_EQ(learn.GestureWeight[2], 0.0);
  EXPECT_EQ(PatternPresent[3][5][0], 0);
  EXPECT_EQ(PatternPresent[3][6][0], 1);
  EXPECT_EQ(learn.RateLimit[5], 1e10);
  EXPECT_EQ(learn.JudgeCount[5][2], 0);
  EXPECT_EQ(learn.JudgeSum[5][0], 0.0);
  EXPECT_EQ(learn.RoiWeightSum[5][31], 0.0);
  EXPECT_EQ(learn.RateLimit[6], 3.0);
  EXPECT_EQ(learn.JudgeCount[6][2], 3);
  EXPECT_EQ(learn.RoiWeightSum[6][31], 2.0);
}

TEST(GestureSlots, SetUpTablesNamesAndTemplates) {
  std::memset(learn.GestureInfo[3].name, 'x', 20);
  learn.GestureInfo[3].length = 12;
  learn.SampleHigh[9][3] = 4;
  ResetGestureTables();
  EXPECT_STREQ(learn.GestureInfo[3].name, "D");
  EXPECT_EQ(learn.GestureInfo[3].number, 3);
  EXPECT_EQ(learn.GestureInfo[3].length, 12);
  EXPECT_EQ(learn.SampleHigh[9][3], -1);

  learn.ViewTemplate[1][1][1] = 0.2, learn.TemplateBackup[7][0][31] = 0.4, learn.ViewTemplateFlag[2][2][2] = 1;
  ResetTemplates();
  EXPECT_EQ(learn.ViewTemplate[1][1][1], 1.0);
  EXPECT_EQ(learn.TemplateBackup[7][0][31], 1.0);
  EXPECT_EQ(learn.ViewTemplateFlag[2][2][2], 0);
}

TEST(PrepareEngine, PendingLearningPassesNeverFreezeThePlayer) {
  InTempDir cwd;
  learn.LearningPasses = 3;
  testing::internal::CaptureStdout();
  WriteKB();
  learn = LearningState{};
  testing::internal::CaptureStderr();
  PrepareEngine();
  const std::string err = testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(app.PlayerMode, 0);
  EXPECT_EQ(learn.LearningPasses, 0);
  EXPECT_NE(err.find("3 learning pass(es)"), std::string::npos) << err;
}
