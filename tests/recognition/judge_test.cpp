// Judgement of motion sequences from hand-made frame records and tables: evidence,
// candidate and hysteresis, phase smoothing and the published result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "recognition/recognition.h"

using namespace orv;

namespace {

struct JudgeTest : testing::Test {
  void SetUp() override {
    recog = RecognitionState{};
    learn = LearningState{};
    engine = EngineSetup{};
    learning = LearningWork{};
    // Level e of every gesture's own curve weighs e: a view's evidence is its level.
    for (int k = 0; k < kGestures; ++k) {
      std::memset(&ProtocolMap[k], 0, sizeof ProtocolMap[k]);
      for (auto& levels : ProtocolMap[k][k])
        for (int e = 0; e < kLevels; ++e) levels[e] = e;
    }
    learn.GestureWeight.fill(1.0);
    learn.RateLimit.fill(1.0);
    std::strcpy(learn.GestureInfo[0].name, "sweep");
    learn.GestureInfo[0].length = 50;
  }
  // Frame F (1-based) of gesture g as seen by every active view: the view's evidence is
  // `level` and its best sample `sample`.
  static void Put(int frame, int g, int level, int sample) {
    for (int l = 0; l < kViews; ++l) {
      ViewFrameEntry& e = recog.FrameRecord[l][frame - 1];
      e.gesture[g] = learn.RoiActive[l] ? g : -1;
      e.similarity[g] = (level + 0.5) / 999.0;
      e.sample[g] = sample;
    }
  }
  static int Judge(int frame, int learnGesture = -1) {
    recog.mflg = frame;
    return JudgeMap(learnGesture, 0);
  }
  // One frame of a sweep of gesture 0 whose matched sample is `sample`.
  static int Sweep(int frame, int sample) {
    Put(frame, 0, 500, sample);
    return Judge(frame);
  }
  static void OnlyView0() {
    learn.RoiActive.fill(0);
    learn.RoiActive[0] = 1;
  }
  static bool PhaseStateCleared() {
    for (double p : recog.SmoothedPhase)
      if (p != 0.0) return false;
    return recog.PhaseRing5 == std::array<double, 5>{} && recog.PhaseRing3 == std::array<double, 3>{} &&
           recog.PhaseRing5Index == 0 && recog.PhaseRing3Index == 0 && recog.PhaseLow == 201.0 &&
           recog.PhaseHigh == -1.0;
  }
};

TEST_F(JudgeTest, EvidenceReadsEachGesturesOwnCurveAtTheSimilarityLevel) {
  learn.RateLimit.fill(1e9);  // no candidate: the evidence stays as collected
  for (int l = 0; l < kViews; ++l) {
    ProtocolMap[2][2][l][0] = 0.25;
    ProtocolMap[2][2][l][999] = 3.0;
    ProtocolMap[3][2][l][0] = 100.0;  // another channel: never read
    for (int k : {2, 3}) recog.FrameRecord[l][0].gesture[k] = k;  // similarities stay 0
  }
  recog.FrameRecord[5][0].gesture[2] = -1;  // not compared in view 5
  Judge(1);
  EXPECT_DOUBLE_EQ(recog.FrameEvidence[2].score, 31 * 0.25);
  EXPECT_DOUBLE_EQ(recog.FrameEvidence[3].score, 0.0);
  EXPECT_EQ(recog.EvidenceHistory[0][2][4], 0.25);
  EXPECT_EQ(recog.EvidenceHistory[0][2][5], 0.0);

  for (int l = 0; l < kViews; ++l) recog.FrameRecord[l][1] = recog.FrameRecord[l][0];
  for (int l = 0; l < kViews; ++l) recog.FrameRecord[l][1].similarity[2] = 1.0;
  Judge(2);
  EXPECT_DOUBLE_EQ(recog.FrameEvidence[2].score, 31 * 3.0);
  EXPECT_DOUBLE_EQ(recog.CumEvidence[2].score, 31 * 3.25);
  EXPECT_EQ(recog.CumRanking[0].gesture, 2);
}

TEST_F(JudgeTest, StrongFramesChooseTheLeaderAndWeakFramesDropTheSequence) {
  learn.JudgeRepeat = 3;
  learn.RateLimit[0] = 32 * 500;  // one strong frame's evidence
  Put(1, 1, 10, 1);               // frame 1: only a faint other gesture
  learn.RateLimit[1] = 1e9;
  EXPECT_EQ(Judge(1), -999);
  EXPECT_EQ(recog.JudgedGesture, -3);
  // Strong frames: the current frame passes the limit, the average does not yet.
  for (int f : {2, 3}) {
    EXPECT_EQ(Sweep(f, f), -999) << f;
    EXPECT_EQ(recog.CandidateGesture, -1);
  }
  EXPECT_EQ(Sweep(4, 4), 0);
  EXPECT_EQ(recog.CandidateGesture, 0);
  EXPECT_EQ(recog.AcceptRun, 3);

  // Weak frames: the run of acceptances is used up before the third drops everything.
  for (int f : {5, 6}) {
    Put(f, 0, 100, f);
    Judge(f);
    EXPECT_EQ(recog.mflg, f);
  }
  Put(7, 0, 100, 7);
  EXPECT_EQ(Judge(7), -999);
  EXPECT_EQ(recog.mflg, 0);
  EXPECT_EQ(recog.PHASE, -1);
  EXPECT_EQ(recog.SequenceRejected, 1);
  EXPECT_EQ(recog.CumEvidence[0].score, 0.0);
  EXPECT_EQ(recog.FrameRecord[0][3].sample[0], 0);
  EXPECT_TRUE(PhaseStateCleared());

  // The weak frames that follow do not drop the new count again.
  for (int f = 1; f <= 4; ++f) {
    Put(f, 0, 100, f);
    Judge(f);
  }
  EXPECT_EQ(recog.RejectRun, 0);
  EXPECT_EQ(recog.SequenceRejected, 1);
}

TEST_F(JudgeTest, RankAgreementIsComputedInDoublePrecision) {
  // One ranked pair: agreement 1.
  Sweep(1, 1);
  EXPECT_EQ(recog.RankAgreement, 1.0);

  // Cumulative order 0, 1, 2 against current order 1, 0, 2: D = 2, n = 3, 1 - 12/24.
  recog = RecognitionState{};
  learn.OCThreshold = 0.6;
  recog.PreviousCandidate = 0;
  Put(1, 0, 300, 1), Put(1, 1, 200, 1), Put(1, 2, 100, 1);
  ASSERT_EQ(Judge(1), 0);
  EXPECT_EQ(recog.RankAgreement, 1.0);
  Put(2, 0, 10, 2), Put(2, 1, 50, 2), Put(2, 2, 5, 2);
  EXPECT_EQ(Judge(2), 0);
  EXPECT_DOUBLE_EQ(recog.RankAgreement, 0.5);
  // Below OCThreshold: dropped, but the judgement itself stays visible with PHASE -1.
  EXPECT_EQ(recog.mflg, 0);
  EXPECT_EQ(recog.PHASE, -1);
  EXPECT_EQ(recog.JudgedGesture, 0);
  EXPECT_EQ(recog.INP_FNUM, 2);
  EXPECT_EQ(recog.SequenceRejected, 0);
  EXPECT_TRUE(PhaseStateCleared());
}

TEST_F(JudgeTest, PhaseRescalingToTheLearnedLength) {
  OnlyView0();
  recog.PreviousCandidate = 0;
  learn.GestureInfo[0].length = 10;
  Sweep(1, 5);  // raw phase 4 = 0.3 L + 1
  EXPECT_DOUBLE_EQ(recog.SmoothedPhase[0], 2.5);
  EXPECT_EQ(recog.PHASE, 2);
  EXPECT_EQ(recog.JudgedLength, 10);

  for (int length : {0, 1}) {
    ResetRecognition();
    learn.GestureInfo[0].length = length;
    for (int f = 1; f <= 6; ++f) Sweep(f, 10 * f);
    EXPECT_EQ(recog.PHASE, 1) << length;
    EXPECT_EQ(recog.WIDTH, 100) << length;
  }

  ResetRecognition();
  learn.GestureInfo[0].length = 10;
  Sweep(1, 9);  // at or above 0.7 L: the whole length
  EXPECT_EQ(recog.PHASE, 10);
}

TEST_F(JudgeTest, RisingAndFallingPhasesGiveSignedSpeed) {
  recog.PreviousCandidate = 0;
  for (int f = 1; f <= 12; ++f) Sweep(f, 14 + 2 * f);
  EXPECT_GT(recog.SPEED, 0);
  EXPECT_GT(recog.WIDTH, 0);
  EXPECT_GT(recog.ACCEL, 0);
  const int top = recog.PHASE;

  ResetRecognition();
  for (int f = 1; f <= 12; ++f) Sweep(f, 40 - 2 * f);
  EXPECT_LT(recog.SPEED, 0);
  EXPECT_LT(recog.ACCEL, 0);
  EXPECT_LT(recog.PHASE, top);
}

TEST_F(JudgeTest, ANewCandidatePublishesFromItsSecondCall) {
  EXPECT_EQ(Sweep(1, 20), 0);
  EXPECT_EQ(recog.JudgedGesture, -2);
  EXPECT_EQ(recog.PHASE, -4);
  Sweep(2, 21);
  EXPECT_EQ(recog.JudgedGesture, 0);
  EXPECT_EQ(std::string(recog.JudgedName + 1), "sweep");
  EXPECT_EQ(recog.INP_FNUM, 2);

  // Across sequences: the same gesture goes on at once, another one waits a call.
  ResetRecognition();
  Sweep(1, 20);
  EXPECT_EQ(recog.JudgedGesture, 0);
  ResetRecognition();
  Put(1, 3, 500, 20);
  Judge(1);
  EXPECT_EQ(recog.CandidateGesture, 3);
  EXPECT_EQ(recog.JudgedGesture, -2);
  Put(2, 3, 500, 21);
  Judge(2);
  EXPECT_EQ(recog.JudgedGesture, 3);
}

TEST_F(JudgeTest, LargePhaseJumpsTightenTheStepLimitDownToOne) {
  OnlyView0();
  recog.PreviousCandidate = 0;
  Sweep(1, 25);
  testing::internal::CaptureStdout();
  Sweep(2, 35);  // raw jump of 10, cut to 5: the smoothed phase still moves 6.25
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Changed threshold for phase difference :    4.50\n");
  EXPECT_EQ(engine.PhaseStepLimit[0], 4.5);

  ResetRecognition();
  engine.PhaseStepLimit[0] = 1.0;
  Sweep(1, 25);
  testing::internal::CaptureStdout();
  Sweep(2, 35);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(engine.PhaseStepLimit[0], 1.0);
}

TEST_F(JudgeTest, TheThreeEntryRingKeepsItsOrder) {
  OnlyView0();
  recog.PreviousCandidate = 0;
  for (int f = 1; f <= 4; ++f) Sweep(f, 31 - f);  // raw phases 29, 28, 27, 26
  // Means 29, 28.5, 28 in the order written, then 27.5 replaces the oldest.
  EXPECT_EQ(recog.PhaseRing3, (std::array<double, 3>{27.5, 28.5, 28.0}));
  EXPECT_DOUBLE_EQ(recog.SmoothedPhase[2], (28.5 - 15) / 0.4);
  EXPECT_DOUBLE_EQ(recog.SmoothedPhase[3], (28.0 - 15) / 0.4);
}

TEST_F(JudgeTest, ARepeatedGestureStartsEachRepetitionFromItsOwnPhase) {
  // The same sweep performed again and again; each repetition ends its sequence or is dropped.
  auto perform = [] {
    std::vector<int> phases;
    for (int f = 1; f <= 20; ++f) {
      Sweep(f, 14 + f);
      phases.push_back(recog.PHASE);
    }
    return phases;
  };
  const std::vector<int> first = perform();
  ResetRecognition();
  const std::vector<int> second = perform();
  EXPECT_GT(first.back(), 10);
  EXPECT_LE(second.front(), 1);
  EXPECT_TRUE(std::is_sorted(second.begin(), second.end()));
  EXPECT_EQ(second.back(), first.back());
  EXPECT_EQ(engine.PhaseStepLimit[0], 5.0);  // no falls wore the limit down

  learn.JudgeRepeat = 1;
  learn.RateLimit[0] = 1e9;
  Sweep(21, 35);  // a weak frame drops the sequence
  ASSERT_EQ(recog.mflg, 0);
  learn.RateLimit[0] = 1.0;
  EXPECT_EQ(perform(), second);
}

TEST_F(JudgeTest, ReviewCollectsTheStatisticsOfTheGestureUnderReview) {
  engine.REVIEW_MODE = 1;
  learn.pos_num = 0;
  learn.RoiActive.fill(0);
  learn.RoiActive[0] = learn.RoiActive[1] = 1;
  Put(1, 0, 500, 10);
  recog.FrameRecord[1][0].similarity[0] = 250.5 / 999.0;
  recog.FrameRecord[1][0].sample[0] = 20;
  Put(1, 1, 100, 10);
  recog.FrameRecord[1][0].gesture[1] = -1;
  EXPECT_EQ(Judge(1), 0);
  EXPECT_EQ(learn.RoiWeightSum[0][0], 500.0);
  EXPECT_EQ(learn.RoiWeightSum[0][1], 250.0);
  EXPECT_EQ(learn.JudgeSum[0][0], 750.0);
  // Weights 1 and 0.5 around the mean sample 15.
  EXPECT_DOUBLE_EQ(learn.JudgeSum[0][1], (25.0 + 6.25) / 2);
  EXPECT_DOUBLE_EQ(learn.JudgeSum[0][2], 100.0 / 750.0);
  EXPECT_EQ(learn.JudgeCount[0], (std::array<int, 3>{1, 1, 1}));
}

TEST_F(JudgeTest, JudgementsThatCannotBeMade) {
  EXPECT_EQ(Judge(0), -999);
  EXPECT_EQ(recog.JudgedGesture, -2);
  EXPECT_EQ(Judge(1), -999);  // nothing compared: the rankings tie
  EXPECT_EQ(recog.JudgedGesture, -3);

  // Two gestures too close to tell apart.
  recog.PreviousCandidate = 0;
  Put(1, 0, 500, 10), Put(1, 1, 499, 10);
  learn.MatchLimit[0] = 0.99;
  EXPECT_EQ(Judge(1), -999);
  EXPECT_EQ(recog.JudgedGesture, -2);

  // A gesture under learning is its own candidate and follows the frames.
  ResetRecognition();
  learn.GestureInfo[4].length = 50;
  EXPECT_EQ(Judge(7, 4), 0);
  EXPECT_EQ(recog.JudgedGesture, 4);
  EXPECT_EQ(recog.PHASE, 7);
}

}  // namespace
