// Matching one view point against the stored samples: scan, distances, similarity.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <random>
#include <string>

#include "kb/learning_state.h"
#include "recognition/recognition_state.h"
#include "engine_fixture.h"
#include "recognition/recognition.h"

using namespace orv;

namespace {

using Half = std::array<double, kDirections>;

// Views of one frame as the driver hands them to Discriminate.
struct ViewResult {
  double similarity[8];
  int bestSample[8];
  int gesture[8];
  int rc;
};

class Matching : public orvtest::EngineTest {
 protected:
  // The group's characteristics as if an earlier view of the group had computed them.
  void SetCurrent(int view, const Half& re, const Half& ps) {
    recog.GcSaved = GcRecordT{};
    recog.GcSaved.Re = re;
    recog.GcSaved.Ps = ps;
    recog.GcValid = 1;
    recog.GcNormalised = 1;
    recog.LastView = view;
  }
  void Store(int view, int g, int s, const Half& re, const Half& ps = Half{}) {
    ASSERT_TRUE(EnsurePatternStore());
    PatternPresent[view][g][s] = 1;
    Patterns->Re[view][g][s] = re;
    Patterns->Ps[view][g][s] = ps;
    learn.SampleHigh[view][g] = std::max(learn.SampleHigh[view][g], s + 1);
  }
  ViewResult Run(int view, int mflg = 7, int learnGesture = -1) {
    ViewResult r;
    for (int g = 0; g < 8; ++g) r.similarity[g] = 0, r.bestSample[g] = mflg, r.gesture[g] = -1;
    r.rc = Discriminate(learnGesture, r.similarity, r.bestSample, r.gesture, view);
    return r;
  }
};

Half With(double first, double rest = 0.0) {
  Half h;
  h.fill(rest);
  h[0] = first;
  return h;
}

}  // namespace

TEST_F(Matching, AViewWithoutAnyStoredSampleFails) {
  SetCurrent(0, With(1), With(1));
  EXPECT_EQ(Run(0).rc, -999);
  Store(1, 0, 0, With(1));  // another view's sample does not help
  EXPECT_EQ(Run(0).rc, -999);
}

TEST_F(Matching, SimilarityIsRelativeWithinTheView) {
  SetCurrent(4, With(10), With(0));
  Store(4, 0, 0, With(14));  // distance 4
  Store(4, 0, 1, With(12));  // 2: best of gesture 0
  Store(4, 0, 2, With(18));  // 8
  Store(4, 1, 0, With(16));  // 6: best of gesture 1
  Store(4, 1, 1, With(0));   // 10: the largest distance of the view
  learn.SampleHigh[4][2] = 0;
  const ViewResult r = Run(4);
  ASSERT_EQ(r.rc, 0);
  EXPECT_DOUBLE_EQ(r.similarity[0], 1 - 2.0 / 10);
  EXPECT_DOUBLE_EQ(r.similarity[1], 1 - 6.0 / 10);
  EXPECT_EQ(r.bestSample[0], 2);
  EXPECT_EQ(r.bestSample[1], 1);
  EXPECT_EQ(r.gesture[0], 0);
  EXPECT_EQ(r.gesture[1], 1);
  // Gestures without samples (SampleHigh 0 or -1) get nothing and stop nobody.
  for (int g = 2; g < 8; ++g) {
    EXPECT_EQ(r.similarity[g], 0.0) << g;
    EXPECT_EQ(r.gesture[g], -1) << g;
    EXPECT_EQ(r.bestSample[g], 0) << g;
  }
  EXPECT_DOUBLE_EQ(recog.OverallMaxDistance, 10.0);
}

TEST_F(Matching, OneGestureIsScaledByItsOwnFarthestSample) {
  SetCurrent(0, With(0, 1.0), With(0));
  Store(0, 3, 0, With(0, 1.5));   // 64 * 0.5 = 32
  Store(0, 3, 1, With(0, 1.25));  // 16
  const ViewResult r = Run(0);
  EXPECT_DOUBLE_EQ(r.similarity[3], 1 - 16.0 / 32);
  EXPECT_EQ(r.bestSample[3], 2);
}

TEST_F(Matching, AnEqualSampleMatchesFullyUnlessNothingIsFarther) {
  SetCurrent(0, With(5), With(0));
  Store(0, 0, 0, With(9));
  Store(0, 0, 1, With(5));  // equal: distance 0
  Store(0, 0, 2, With(5));  // a tie keeps the earlier sample
  ViewResult r = Run(0);
  EXPECT_DOUBLE_EQ(r.similarity[0], 1.0);
  EXPECT_EQ(r.bestSample[0], 2);
  // Only equal samples: every distance 0, no scale, no best sample.
  Store(0, 0, 0, With(5));
  r = Run(0);
  EXPECT_EQ(r.similarity[0], 0.0);
  EXPECT_EQ(r.bestSample[0], 0);
  EXPECT_EQ(r.gesture[0], 0);
}

TEST_F(Matching, OddViewsCompareTheSpectrum) {
  SetCurrent(1, With(0), With(3));
  Store(1, 0, 0, With(100), With(4));  // Re far away, Ps close
  Store(1, 0, 1, With(0), With(7));
  const ViewResult r = Run(1);
  EXPECT_EQ(r.bestSample[0], 1);
  EXPECT_DOUBLE_EQ(r.similarity[0], 1 - 1.0 / 4);
}

TEST_F(Matching, SampleStepAndTheFirstMissingSample) {
  SetCurrent(0, With(0), With(0));
  for (int s = 0; s < 6; ++s) Store(0, 0, s, With(10 - s));
  learn.RSKIP = 2.0;  // samples 0, 2, 4
  ViewResult r = Run(0);
  EXPECT_EQ(r.bestSample[0], 5);
  EXPECT_DOUBLE_EQ(recog.MaxDistance[0], 10);
  EXPECT_DOUBLE_EQ(recog.MinDistance[0], 6);
  // The scan ends at the first missing sample it reaches.
  learn.RSKIP = 1.0;
  PatternPresent[0][0][3] = 0;
  r = Run(0);
  EXPECT_EQ(r.bestSample[0], 3);
  EXPECT_DOUBLE_EQ(recog.MinDistance[0], 8);
  // A missing first sample under a positive SampleHigh fails the view.
  PatternPresent[0][0][0] = 0;
  testing::internal::CaptureStdout();
  r = Run(0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(r.rc, -999);
  EXPECT_EQ(out, "Discriminate() -> Skipped..-999999999.000000  mode=0, REVIEW_MODE=0\n");
}

TEST_F(Matching, ScanAgreesWithAPlainSampleBySampleSum) {
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> u(0.0, 60.0);
  Half cur;
  for (double& v : cur) v = u(rng);
  SetCurrent(2, cur, cur);
  const int counts[8] = {200, 1, 2, 3, 5, 61, 127, 199};
  for (int g = 0; g < 8; ++g)
    for (int s = 0; s < counts[g]; ++s) {
      Half h;
      for (double& v : h) v = u(rng);
      Store(2, g, s, h);
    }
  const DistanceFn chosen = DistanceKernel;
  for (double rskip : {1.0, 3.0, 7.5, 1.0}) {
    if (rskip == 7.5) DistanceKernel = PortableDistances;  // the last two runs
    learn.RSKIP = rskip;
    const ViewResult r = Run(2);
    ASSERT_EQ(r.rc, 0);
    const int step = int(rskip);
    for (int g = 0; g < 8; ++g) {
      double mx = -999999999, mn = 999999999;
      int best = 0;
      for (int s = 0; s < counts[g]; s += step) {
        double d = 0;
        for (int i = 0; i < kDirections; ++i) d += std::fabs(cur[i] - Patterns->Re[2][g][s][i]);
        mx = std::max(mx, d);
        if (d < mn) mn = d, best = s + 1;
      }
      EXPECT_EQ(recog.MaxDistance[g], mx) << g << " " << rskip;  // same sums, bit for bit
      EXPECT_EQ(recog.MinDistance[g], mn) << g << " " << rskip;
      EXPECT_EQ(r.bestSample[g], best) << g << " " << rskip;
    }
  }
  DistanceKernel = chosen;
}

TEST_F(Matching, OutOfRangeValuesNeverReachAnIndex) {
  SetCurrent(0, With(0), With(0));
  Store(0, 0, 0, With(1));
  Store(0, 0, 1, With(2));
  learn.SampleHigh[0][0] = 5000;  // bounded to the 200 slots
  learn.RSKIP = 0.0;              // would never advance
  EXPECT_EQ(Run(0).rc, 0);
  learn.RSKIP = std::nan("");
  EXPECT_EQ(Run(0).rc, 0);
  learn.RSKIP = 1e300;
  EXPECT_EQ(Run(0).bestSample[0], 1);
  EXPECT_EQ(Run(32).rc, -999);
  EXPECT_EQ(Run(-1).rc, -999);
  EXPECT_EQ(Run(0, 7, 8).rc, -999);
}

TEST_F(Matching, CorruptStoredValuesAreReportedWithoutWaitingOffATerminal) {
  // Standard input is a pipe that stays open and empty: a read would block for ever.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_GE(dup2(fds[0], STDIN_FILENO), 0);
  alarm(20);
  Half bad = With(0);
  bad[5] = 2e10;
  SetCurrent(0, With(0), With(0));
  Store(0, 6, 0, With(1));
  Store(0, 6, 1, bad);
  Store(0, 6, 2, With(2));
  testing::internal::CaptureStdout();
  ViewResult r = Run(0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(out,
            "Illegal Data Found (GESTURE:6 MODE:0 SAMPLE:1) in Re ... Re= 0.000000   KB= "
            "20000000000.000000 \n");
  EXPECT_EQ(r.bestSample[6], 1);
  // Odd views name the spectrum; a closed standard input does not block either.
  close(STDIN_FILENO);
  SetCurrent(3, With(0), With(0));
  Store(3, 6, 0, With(0), bad);
  testing::internal::CaptureStdout();
  r = Run(3);
  out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("(GESTURE:6 MODE:3 SAMPLE:0) in Ps ... Ps= 0.000000   KB= 20000000000.000000 \n"),
            std::string::npos);
  alarm(0);
}
