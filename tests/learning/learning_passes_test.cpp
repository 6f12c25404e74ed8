// Teaching a gesture end to end through the recognizer: the standard motion, the learning
// passes with their pauses, the review, and what teaching leaves of the other gestures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "kb/kb_fixture.h"
#include "kb/learning_state.h"
#include "learning/learning.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition.h"
#include "kb/kb.h"

using namespace orv;
using namespace orvtest;

namespace {

struct LearningRun : testing::Test {
  void SetUp() override {
    ResetRecognition();
    for (int g = 0; g < kGestures; ++g) InitGestureSlot(g);
    ResetGestureTables();
    ResetTemplates();
    FillDirectionTables();
    BuildKernelTables();
    ResetEngineCaches();
    EngineShowText = [](const char* text) { shown += text, shown += '|'; };
    shown.clear();
  }
  void TearDown() override { EngineShowText = nullptr, EngineWait = nullptr; }

  // Frame i of a sweep: a bright bar turning about a pivot at the bottom of the picture,
  // 7.5 degrees a frame, clockwise or not.
  static void SweepFrame(int i, bool clockwise) {
    auto& px = player.GrayFrames[1 - (player.GrayIndex & 1)];
    px.fill(10);
    const double a = (clockwise ? 30.0 + 7.5 * i : 150.0 - 7.5 * i) * M_PI / 180.0;
    const double ux = std::cos(a), uy = -std::sin(a), cx = 160.0, cy = 220.0;
    for (int y = 40; y < kCamH; ++y)
      for (int x = 0; x < kCamW; ++x) {
        const double t = (x - cx) * ux + (y - cy) * uy, d = (x - cx) * uy - (y - cy) * ux;
        if (t >= 0.0 && t <= 150.0 && std::fabs(d) <= 10.0) px[y * kCamW + x] = 220;
      }
  }
  // One sweep of n frames between still frames.
  void Sequence(int n, int learnGesture = -1, bool clockwise = true) {
    for (int i = 0; i <= n + 1; ++i) {
      SweepFrame(std::min(i, n), clockwise);
      RunEngineFrame(learnGesture, LatestGrayFrame());
    }
  }
  // The standard motion of gesture g, as the learning entry starts it.
  void TeachStandard(int g, int frames, bool clockwise = true) {
    learn.pos_num = g;
    PrepareLearning();
    Sequence(frames, g, clockwise);
  }
  // Frames until the review has fed back every recorded frame.
  int RunReview() {
    int calls = 0;
    while (engine.REVIEW_MODE == 1 && calls < 400) {
      SweepFrame(0, true);
      RunEngineFrame(-1, LatestGrayFrame());
      ++calls;
    }
    return calls;
  }

  static std::string shown;
};
std::string LearningRun::shown;

int StoredPatterns(int g) {
  int n = 0;
  for (auto& byGesture : PatternPresent)
    for (int f : byGesture[g]) n += f;
  return n;
}

int ValidSamples(int g) {
  int n = 0;
  for (auto& byView : SampleTable[g][g])
    for (const SampleRecord& r : byView) n += r.valid == 1;
  return n;
}

}  // namespace

TEST_F(LearningRun, OnePassReviewsAtOnceAndShortSequencesDoNotCount) {
  TeachStandard(3, 12);
  EXPECT_EQ(learn.GestureInfo[3].length, 12);
  ASSERT_GT(StoredPatterns(3), 32);

  learn.LearningPasses = 1;
  Sequence(3);  // too short: no pass
  EXPECT_EQ(learn.LearningPasses, 1);
  EXPECT_EQ(engine.REVIEW_MODE, 0);

  learn.OK_VAR[3] = 5.0;
  learn.MatchLimit[3] = 0.5;
  Sequence(10);
  EXPECT_EQ(learn.LearningPasses, 0);
  EXPECT_EQ(engine.REVIEW_MODE, 1);
  EXPECT_EQ(learn.ReviewFrame, 0);
  EXPECT_EQ(shown, "");  // no countdown after the last pass
  EXPECT_EQ(learn.GestureInfo[3].length, 12);  // a pass records no length
  EXPECT_GT(ValidSamples(3), 0);
  EXPECT_GT(ProtocolMap[3][3][0][999], 0.0);  // the map follows the samples of the pass
  // The replay matches one sample a frame; the dropped burst's three samples stay in the
  // table, so one step of -2 joins the eleven steps of 1.
  EXPECT_DOUBLE_EQ(engine.PhaseStepLimit[3], 13.0 / 12.0);

  const int recorded = learn.RecordedFrames;
  EXPECT_GE(recorded, 10);
  EXPECT_EQ(RunReview(), recorded + 1);
  EXPECT_EQ(learn.RecordedFrames, 0);
  EXPECT_EQ(learn.MatchLimit[3], 0.92);  // never below 0.92 after a review
}

TEST_F(LearningRun, PassesPauseBetweenThemAndCountDown) {
  TeachStandard(1, 12);
  learn.LearningPasses = 3;
  learn.CamBeep = 1;
  testing::internal::CaptureStdout();
  Sequence(8);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(learn.LearningPasses, 2);
  EXPECT_EQ(engine.REVIEW_MODE, 0);
  EXPECT_EQ(shown,
            "---> START THE LEARNING OF SIMILAR BODY MOTION for [ B ]. GET READY! (3)|"
            "---> START THE LEARNING OF SIMILAR BODY MOTION for [ B ]. GET READY! (2)|"
            "---> START THE LEARNING OF SIMILAR BODY MOTION for [ B ]. GET READY! (1)|"
            "*** LEARNING SIMILAR BODY MOTION for [ B ] ***|");
  EXPECT_EQ(CountOf(out, "\a\n"), 1) << out;  // the bell before the next pass
  EXPECT_STREQ(learning.LearningText, "*** LEARNING SIMILAR BODY MOTION for [ B ] ***");

  // The player's wait hook reads keys; a cancel asked in the second second ends the count-in.
  static int waits = 0;
  EngineWait = [](int ms) { return ms == 1000 && ++waits < 2; };
  shown.clear();
  Sequence(8);
  EXPECT_EQ(learn.LearningPasses, 1);
  EXPECT_EQ(shown,
            "---> START THE LEARNING OF SIMILAR BODY MOTION for [ B ]. GET READY! (3)|"
            "---> START THE LEARNING OF SIMILAR BODY MOTION for [ B ]. GET READY! (2)|");
  EngineWait = nullptr;
  shown.clear();
  Sequence(8);
  EXPECT_EQ(learn.LearningPasses, 0);
  EXPECT_EQ(engine.REVIEW_MODE, 1);
  EXPECT_EQ(shown, "");
  EXPECT_GT(RunReview(), 24);  // recording went on over all three passes
}

TEST_F(LearningRun, RecognitionSequencesLeaveLengthsAndPassesAlone) {
  TeachStandard(2, 9);
  Sequence(6);
  EXPECT_EQ(learn.GestureInfo[2].length, 9);
  EXPECT_EQ(learn.LearningPasses, 0);
  EXPECT_EQ(engine.REVIEW_MODE, 0);
  EXPECT_EQ(ValidSamples(2), 0);
}

TEST_F(LearningRun, TeachingOneGestureKeepsEveryOtherGesture) {
  TeachStandard(0, 12);
  learn.LearningPasses = 1;
  Sequence(12);
  RunReview();
  learn.RateLimit[0] = 4.5, learn.OK_VAR[0] = 7.0, learn.JudgeSum[0][1] = 3.0, learn.JudgeCount[0][1] = 2;
  learn.RoiWeightSum[0][4] = 1.5;
  const int patterns = StoredPatterns(0);
  const auto samples = std::make_unique<SampleTableT::value_type>(SampleTable[0]);
  const auto map = std::make_unique<ProtocolMapT::value_type>(ProtocolMap[0]);
  const LearningState before = learn;
  const LearningWork beforeWork = learning;
  ASSERT_GT(learn.GestureWeight[0], 0.0);

  TeachStandard(1, 8);
  EXPECT_EQ(StoredPatterns(0), patterns);
  EXPECT_EQ(std::memcmp(&SampleTable[0], samples.get(), sizeof SampleTable[0]), 0);
  EXPECT_TRUE(ProtocolMap[0] == *map);
  EXPECT_EQ(learn.GestureInfo[0].length, 12);
  EXPECT_EQ(learn.SampleCount[0], before.SampleCount[0]);
  EXPECT_EQ(learn.GestureWeight[0], before.GestureWeight[0]);
  EXPECT_TRUE(learning.ViewTemplate[0] == beforeWork.ViewTemplate[0]);
  EXPECT_TRUE(learning.TemplateBackup[0] == beforeWork.TemplateBackup[0]);
  EXPECT_TRUE(learning.ViewTemplateFlag[0] == beforeWork.ViewTemplateFlag[0]);
  EXPECT_EQ(learn.RateLimit[0], 4.5);
  EXPECT_EQ(learn.OK_VAR[0], 7.0);
  EXPECT_EQ(learn.JudgeCount[0][1], 2);
  EXPECT_EQ(learn.RoiWeightSum[0][4], 1.5);
  // The taught gesture itself starts afresh.
  EXPECT_EQ(learn.GestureInfo[1].length, 8);
  EXPECT_EQ(learn.RateLimit[1], 1e10);
  EXPECT_EQ(ValidSamples(1), 0);
}

TEST(LearningPlayer, PassesOfAKnowledgeBaseWaitForTheCameraAndKeepKeysAlive) {
  // Without a camera nothing moves, so a loop that stopped reading keys for the passes could
  // never end; the player must still show frames and take its keys.
  TempDir root;
  const std::filesystem::path work = root.path / "work";
  std::filesystem::create_directories(work);
  MakeContent(root.path, 0, 5);
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(work);
  ResetGestureTables();
  learn.LearningPasses = 2;
  learn.pos_num = 4;
  testing::internal::CaptureStdout();
  WriteKB(player.ContentNumber);
  testing::internal::GetCapturedStdout();
  std::filesystem::current_path(old);
  WriteFile(work / "script.txt", "3 ESC\n4 ESC\n");
  ProcOptions opt;
  opt.cwd = work;
  opt.timeoutSeconds = 30;
  opt.env = {{"ORVANTE_HEADLESS", "1"}, {"ORVANTE_SCRIPT", (work / "script.txt").string()}};
  const ProcResult r = RunProcess({ORVANTE_BINARY}, opt);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("asks for 2 learning pass(es) of gesture [ E ]; they run while the camera is on"),
            std::string::npos)
      << r.out;
}
