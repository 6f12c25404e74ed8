// Template weights of the view points and the selection of the view points in use.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "learning/learning.h"

using namespace orv;

namespace {

struct TemplateTest : testing::Test {
  void SetUp() override {
    learn = LearningState{};
    engine = EngineSetup{};
    learning = LearningWork{};
    recog = RecognitionState{};
    std::memset(&SampleTable, 0, sizeof SampleTable);
  }
};

// Samples 0.. of gesture g in view v: one similarity for all, and the given phases
// (a phase of 0 is a sample without phase).
void Samples(int g, int v, double similarity, const std::vector<double>& phases) {
  for (size_t s = 0; s < phases.size(); ++s) SampleTable[g][g][v][s] = SampleRecord{1, 0, similarity, phases[s]};
}

std::vector<double> Steps(double first, double step, int n) {
  std::vector<double> out;
  for (int i = 0; i < n; ++i) out.push_back(first + step * i);
  return out;
}

int Flags(int g) {
  int n = 0;
  for (int f : learning.ViewTemplateFlag[g][g]) n += f;
  return n;
}

}  // namespace

TEST_F(TemplateTest, LearningFormRatesOnlyViewsWithSamples) {
  learn.GestureInfo[3].length = 50;
  learning.ViewTemplate[3][3][9] = 0.7;  // no samples in view 9: it keeps this weight
  Samples(3, 0, 0.9, Steps(1, 1, 10));
  Samples(3, 1, 0.9, {1, 3, 6, 8, 11, 13, 16, 18, 21, 23, 26, 28, 31, 33, 36, 38, 41, 43, 46, 48});
  Samples(3, 2, 0.9, {5, 5, 5, 5});                       // no spread of phases
  for (int s = 0; s < 10; ++s)                             // unsteady similarity
    SampleTable[3][3][4][s] = SampleRecord{1, 0, s % 2 ? 0.95 : 0.35, 1.0 + s};
  learn.NEROI = 7;
  learn.RoiActive[20] = 0;

  BuildTemplate(3, 1);
  EXPECT_EQ(learn.NEROI, 32);
  EXPECT_EQ(learn.RoiActive[20], 1);
  EXPECT_EQ(Flags(3), 4);
  EXPECT_EQ(learning.ViewTemplateFlag[3][3][9], 0);
  EXPECT_EQ(learning.ViewTemplate[3][3][9], 0.7);
  // Even steps (view 0) or no phase spread (view 2) leave the similarity term alone,
  // m / (0 + eps) = 9. Phases spread wide (variance 207.25) in small steps of 2 and 3
  // (variance 0.2493) rate 9 x 14.40 / 10.50 = 12.34 and lead the normalisation.
  const auto& w = learning.ViewTemplate[3][3];
  EXPECT_EQ(w[1], 1.0);
  EXPECT_NEAR(w[0], 0.72931, 1e-5);
  EXPECT_EQ(w[2], w[0]);
  EXPECT_NEAR(w[4], 0.27722, 1e-5);  // unsteady similarity: 0.65 / (0.09 + 0.1)
  // One less than the flagged views: view 9 takes no part; weight = n / sum of weights.
  EXPECT_DOUBLE_EQ(learn.GestureWeight[3], 4.0 / (w[0] + w[1] + w[2] + w[4]));
  EXPECT_TRUE(learning.TemplateBackup == learning.ViewTemplate);
  EXPECT_EQ(learn.RateLimit[3], 4.0);  // capped by the most templated view points
}

TEST_F(TemplateTest, PhaseStepLimitFollowsTheLearnedLength) {
  auto limit = [](int length, const std::vector<double>& phases, int invalid = -1) {
    std::memset(&SampleTable[0], 0, sizeof SampleTable[0]);
    learn.GestureInfo[0].length = length;
    engine.PhaseStepLimit[0] = -1.0;
    Samples(0, 31, 0.8, phases);
    if (invalid >= 0) SampleTable[0][0][31][invalid].valid = 0;
    BuildTemplate(0, 1);
    return engine.PhaseStepLimit[0];
  };
  EXPECT_EQ(limit(20, {1, 4, 8, 11, 15}), 2.0);          // mean step 3.5, a tenth of 20 is 2
  EXPECT_EQ(limit(20, {1, 1.4, 1.8, 2.2, 2.6}), 1.0);    // mean step 0.4, raised to 1
  EXPECT_EQ(limit(200, {1, 4, 8, 11, 15}), 3.5);
  EXPECT_EQ(limit(200, {1, 21, 41}), 5.0);               // never above 5
  EXPECT_EQ(limit(0, {1, 2, 3}), 5.0);                   // no learned length
  EXPECT_EQ(limit(20, {1, 0, 3, 0, 5}), 5.0);            // no pair of neighbours with phases
  EXPECT_EQ(limit(20, {1, 2, 30, 31}), 2.0);
  EXPECT_EQ(limit(20, {1, 2, 30, 31}, 1), 1.0);          // no step across an invalid record
}

TEST_F(TemplateTest, AGestureWithoutSamplesHasWeightOneAndNoFlags) {
  BuildTemplate(6, 1);
  EXPECT_EQ(Flags(6), 0);
  EXPECT_EQ(learn.GestureWeight[6], 1.0);
  EXPECT_EQ(learning.ViewTemplate[6][6][0], 1.0);
  EXPECT_EQ(learn.RateLimit[6], 1e10);
}

TEST_F(TemplateTest, PlainFormRestoresTheBackupAndFlagsTheActiveViews) {
  Samples(2, 5, 0.9, {1, 2, 4, 5, 7});
  Samples(2, 6, 0.9, {1, 2, 3, 4, 5});
  BuildTemplate(2, 1);
  const auto learned = learning.ViewTemplate;
  learning.ViewTemplate[2][2][5] = 42.0;
  learn.RoiActive.fill(0);
  learn.RoiActive[5] = learn.RoiActive[6] = learn.RoiActive[7] = 1;
  BuildTemplate(2, 0);
  EXPECT_TRUE(learning.ViewTemplate == learned);
  EXPECT_EQ(Flags(2), 3);
  EXPECT_EQ(learning.ViewTemplateFlag[2][2][7], 1);
  EXPECT_DOUBLE_EQ(learn.GestureWeight[2], 3.0 / (learned[2][2][5] + learned[2][2][6] + 1.0));
}

TEST_F(TemplateTest, SelectionKeepsTheBestNeroiViews) {
  // Gesture 1 rates views 20..29 best (edge maps), the rest keep weight 1 but lose to them
  // after the normalisation only when their own weights are low: give them low ones.
  for (int v = 0; v < kViews; ++v) Samples(1, v, v >= 20 && v < 30 ? 0.9 : 0.1, Steps(1, 1, 8));
  BuildTemplate(1, 1);
  learn.NEROI = 10;
  learn.UseRoiMask = 1;  // only honoured with all 32 view points asked for
  recog.mflg = 7, recog.DiffPixelCount = 12.0, recog.RecognitionCount[1] = 3, recog.PHASE = 5;
  SelectViewPoints();

  EXPECT_EQ(learn.UseRoiMask, 0);
  EXPECT_EQ(learn.NEROI, 10);
  for (int v = 0; v < kViews; ++v) EXPECT_EQ(learn.RoiActive[v], v >= 20 && v < 30) << v;
  EXPECT_EQ(learning.ViewRanking[0].view, 20);  // equal scores keep the lower view first
  EXPECT_EQ(learning.ViewRanking[9].view, 29);
  EXPECT_EQ(learning.ViewRanking[10].view, 0);
  // Views 20..23 read map 4 twice, 24..27 maps 4 and 1, 28..29 maps 2 and 1.
  EXPECT_EQ(engine.MapEnable[0], 0);
  EXPECT_EQ(engine.MapEnable[1], 6);
  EXPECT_EQ(engine.MapEnable[2], 2);
  EXPECT_EQ(engine.MapEnable[3], 0);
  EXPECT_EQ(engine.MapEnable[4], 12);
  EXPECT_EQ(Flags(1), 10);  // the templates follow the kept views
  // The last gesture's cap sees every gesture at ten templated views.
  EXPECT_EQ(learn.RateLimit[7], 10.0);
  // A fresh sequence; the frame difference and the recognition counts carry on.
  EXPECT_EQ(recog.mflg, 0);
  EXPECT_EQ(recog.PHASE, -1);
  EXPECT_EQ(recog.DiffPixelCount, 12.0);
  EXPECT_EQ(recog.RecognitionCount[1], 3);
}

TEST_F(TemplateTest, SelectionByRoiMaskAndOversizedCounts) {
  learn.UseRoiMask = 1;
  SelectViewPoints();  // all 32 mask entries set
  EXPECT_EQ(learn.NEROI, 32);
  for (int a : learn.RoiActive) EXPECT_EQ(a, 1);

  learn.RoiMask.fill(0);
  learn.RoiMask[3] = learn.RoiMask[17] = learn.RoiMask[30] = 1;
  learn.NEROI = 32;
  SelectViewPoints();
  EXPECT_EQ(learn.UseRoiMask, 1);
  EXPECT_EQ(learn.NEROI, 32);  // the mask's count is not kept
  for (int v = 0; v < kViews; ++v) EXPECT_EQ(learn.RoiActive[v], v == 3 || v == 17 || v == 30) << v;
  EXPECT_EQ(engine.MapEnable[1], 5);
  EXPECT_EQ(engine.MapEnable[2], 1);

  learn.UseRoiMask = 1;
  learn.RoiMask.fill(3);  // not a 0/1 mask: still at most 32 views
  SelectViewPoints();
  EXPECT_EQ(engine.MapEnable[1] + engine.MapEnable[2] + engine.MapEnable[4], 64);

  learn.UseRoiMask = 0;
  learn.NEROI = 40;
  SelectViewPoints();
  EXPECT_EQ(learn.NEROI, 32);
  learn.NEROI = -3;
  SelectViewPoints();
  EXPECT_EQ(learn.NEROI, 0);
  for (int a : learn.RoiActive) EXPECT_EQ(a, 0);
}

TEST_F(TemplateTest, SelectionSetsTheEvidenceLimitFromTheReviewOfTheKeptViews) {
  learn.NEROI = 2;
  learn.JudgeCount[4][0] = 10;
  learn.RF_COEFFICIENT = 0.5;
  for (int v = 0; v < kViews; ++v) learn.RoiWeightSum[4][v] = v;
  learn.JudgeSum[4][0] = 99.0;
  learn.RateLimit[7] = 77.0;  // no review counts: only capped
  SelectViewPoints();
  // All views tie; views 0 and 1 are kept.
  EXPECT_EQ(learn.JudgeSum[4][0], 1.0);
  EXPECT_EQ(learn.RateLimit[4], 0.05);
  EXPECT_EQ(learn.RateLimit[7], 2.0);  // by the two templated views
}
