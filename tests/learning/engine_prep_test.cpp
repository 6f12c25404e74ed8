// Gesture slots, kernel tables, learning preparation and the engine preparation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "kb/kb_fixture.h"
#include "kb/learning_state.h"
#include "learning/learning.h"
#include "kb/kb.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"

using namespace orv;
using namespace orvtest;

TEST(KernelTables, FollowOkHigh) {
  BuildKernelTables();
  EXPECT_EQ(learning.MapKernel[0], 4.0);
  EXPECT_NEAR(learning.MapKernel[100], std::exp(-2.5) + std::exp(-1.25) + std::exp(-5.0) + std::exp(-10.0), 1e-15);
  EXPECT_NEAR(learning.MapKernel[100], 0.3754, 1e-4);
  EXPECT_EQ(engine.RadialWeight[999], 1.0);
  EXPECT_NEAR(engine.RadialWeight[0], std::exp(-5.0 * 999.0 * 999.0 / 1e6), 1e-18);
  learn.OK_HIGH = 1000;
  BuildKernelTables();
  EXPECT_NEAR(learning.MapKernel[100], std::exp(-5.0) + std::exp(-2.5) + std::exp(-10.0) + std::exp(-20.0), 1e-15);
}

TEST(PrepareEngine, WithoutAKnowledgeBaseTheMotionPlayerStays) {
  InTempDir cwd;
  BuildKernelTables();
  learn.OK_HIGH = 10;  // would change the kernel if anything were built
  recog.mflg = 5;
  if (PrepareEngine(player.ContentNumber)) player.PlayerMode = 0;
  EXPECT_EQ(player.PlayerMode, 1);
  EXPECT_EQ(recog.mflg, 5);
  EXPECT_NEAR(learning.MapKernel[100], 0.3754, 1e-4);
}

TEST(PrepareEngine, ALoadHandsThePlayerToTheEngine) {
  InTempDir cwd;
  learn.OK_HIGH = 1000;
  testing::internal::CaptureStdout();
  WriteKB(player.ContentNumber);
  learn = LearningState{};
  engine = EngineSetup{};
  learning = LearningWork{};
  recog.mflg = 5, recog.DiffPixelCount = 3, recog.PHASE = 7, recog.JudgedGesture = 2, recog.rv = 4.5;
  std::strcpy(recog.JudgedName + 1, "wave");
  if (PrepareEngine(player.ContentNumber)) player.PlayerMode = 0;
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(player.PlayerMode, 0);
  EXPECT_EQ(recog.mflg, 0);
  EXPECT_EQ(recog.DiffPixelCount, -1.0);
  EXPECT_EQ(recog.PHASE, -1);  // the view-point selection starts a fresh sequence
  EXPECT_EQ(recog.JudgedGesture, -2);
  EXPECT_EQ(recog.JudgedName[1], '\0');
  EXPECT_EQ(recog.rv, 4.5);
  EXPECT_EQ(learning.MapKernel[0], 4.0);
  EXPECT_NEAR(learning.MapKernel[100], std::exp(-5.0) + std::exp(-2.5) + std::exp(-10.0) + std::exp(-20.0), 1e-15);
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

TEST(GestureSlots, PrepareLearningClearsOnlyTheGestureBeingTaught) {
  learn.pos_num = 5;
  StorePattern(3, 5, 0, 1.0);
  StorePattern(3, 6, 0, 1.0);
  for (int g : {5, 6}) {
    learn.GestureInfo[g].length = 40;
    learn.SampleCount[g] = 9;
    ProtocolMap[g][g][2][500] = 1.0;
    SampleTable[g][g][0][0].valid = 1;
    learning.ViewTemplate[g][g][3] = 0.3;
    learning.TemplateBackup[g][g][3] = 0.3;
    learning.ViewTemplateFlag[g][g][3] = 1;
    learn.GestureWeight[g] = 7.0;
    learn.RateLimit[g] = 3.0;
    learn.JudgeCount[g] = {1, 2, 3};
    learn.JudgeSum[g] = {1.0, 2.0, 3.0};
    learn.RoiWeightSum[g][31] = 2.0;
  }
  recog.mflg = 9;

  PrepareLearning();
  EXPECT_EQ(recog.mflg, 0);
  const int taught = 5, kept = 6;
  EXPECT_EQ(learn.GestureInfo[taught].length, 0);
  EXPECT_EQ(learn.SampleCount[taught], 0);
  EXPECT_EQ(ProtocolMap[taught][taught][2][500], 0.0);
  EXPECT_EQ(SampleTable[taught][taught][0][0].valid, 0);
  EXPECT_EQ(learning.ViewTemplate[taught][taught][3], 1.0);
  EXPECT_EQ(learning.TemplateBackup[taught][taught][3], 1.0);
  EXPECT_EQ(learning.ViewTemplateFlag[taught][taught][3], 0);
  EXPECT_EQ(learn.GestureWeight[taught], 0.0);
  EXPECT_EQ(PatternPresent[3][taught][0], 0);
  EXPECT_EQ(learn.RateLimit[taught], 1e10);
  EXPECT_EQ(learn.JudgeCount[taught][2], 0);
  EXPECT_EQ(learn.JudgeSum[taught][0], 0.0);
  EXPECT_EQ(learn.RoiWeightSum[taught][31], 0.0);

  EXPECT_EQ(learn.GestureInfo[kept].length, 40);
  EXPECT_EQ(learn.SampleCount[kept], 9);
  EXPECT_EQ(ProtocolMap[kept][kept][2][500], 1.0);
  EXPECT_EQ(SampleTable[kept][kept][0][0].valid, 1);
  EXPECT_EQ(learning.ViewTemplate[kept][kept][3], 0.3);
  EXPECT_EQ(learning.TemplateBackup[kept][kept][3], 0.3);
  EXPECT_EQ(learning.ViewTemplateFlag[kept][kept][3], 1);
  EXPECT_EQ(learn.GestureWeight[kept], 7.0);
  EXPECT_EQ(PatternPresent[3][kept][0], 1);
  EXPECT_EQ(learn.RateLimit[kept], 3.0);
  EXPECT_EQ(learn.JudgeCount[kept][2], 3);
  EXPECT_EQ(learn.RoiWeightSum[kept][31], 2.0);

  // The set-up's initialiser clears every weight, as before.
  InitGestureSlot(0);
  EXPECT_EQ(learn.GestureWeight[kept], 0.0);
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

  learning.ViewTemplate[1][1][1] = 0.2, learning.TemplateBackup[7][0][31] = 0.4, learning.ViewTemplateFlag[2][2][2] = 1;
  ResetTemplates();
  EXPECT_EQ(learning.ViewTemplate[1][1][1], 1.0);
  EXPECT_EQ(learning.TemplateBackup[7][0][31], 1.0);
  EXPECT_EQ(learning.ViewTemplateFlag[2][2][2], 0);
}

TEST(PrepareEngine, BuildsTemplatesMapsAndViewPointsOfTheLoadedGestures) {
  InTempDir cwd;
  learn.NEROI = 10;          // the rebuild asks for all 32 view points again
  learn.LearningPasses = 2;  // pending passes stay pending
  learn.GestureInfo[2].length = 30;
  for (int v = 0; v < kViews; ++v)
    for (int s = 0; s < 20; ++s) SampleTable[2][2][v][s] = SampleRecord{1, 0, v < 8 ? 0.9 : 0.2, 1.0 + 2 * s};
  testing::internal::CaptureStdout();
  WriteKB(player.ContentNumber);
  learn = LearningState{};
  engine = EngineSetup{};
  learning = LearningWork{};
  std::memset(&SampleTable, 0, sizeof SampleTable);
  ProtocolMap[4][4][0][0] = 0.5;  // left from an earlier content
  engine.MapEnable.fill(0);
  if (PrepareEngine(player.ContentNumber)) player.PlayerMode = 0;
  testing::internal::GetCapturedStdout();

  EXPECT_EQ(player.PlayerMode, 0);
  EXPECT_EQ(learn.LearningPasses, 2);
  EXPECT_EQ(learn.NEROI, 32);
  for (int a : learn.RoiActive) EXPECT_EQ(a, 1);
  EXPECT_EQ(engine.MapEnable[1], 28);
  EXPECT_EQ(engine.MapEnable[2], 24);
  EXPECT_EQ(engine.MapEnable[4], 12);
  EXPECT_EQ(ProtocolMap[2][2][0][899], 1.0);  // similarity 0.9 peaks on levels 899 and 900
  EXPECT_EQ(ProtocolMap[4][4][0][0], 0.0);
  EXPECT_EQ(learning.TemplateBackup[2][2][0], 1.0);  // views 0..7 rate best
  EXPECT_LT(learning.TemplateBackup[2][2][8], 0.5);
  EXPECT_EQ(engine.PhaseStepLimit[2], 2.0);
  EXPECT_GT(learn.GestureWeight[2], 1.0);
  EXPECT_EQ(learn.GestureWeight[3], 1.0);
  EXPECT_EQ(recog.PHASE, -1);

  // A second load of the same files rebuilds the same tables.
  const auto map = std::make_unique<ProtocolMapT::value_type>(ProtocolMap[2]);
  const LearningState first = learn;
  const LearningWork firstWork = learning;
  testing::internal::CaptureStdout();
  if (PrepareEngine(player.ContentNumber)) player.PlayerMode = 0;
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ProtocolMap[2] == *map);
  EXPECT_TRUE(learning.ViewTemplate == firstWork.ViewTemplate);
  EXPECT_TRUE(learn.GestureWeight == first.GestureWeight);
}
