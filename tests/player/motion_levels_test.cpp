// Where the threshold belongs, on small inputs whose answers were worked out by hand: the
// percentile, the levels and their margin, the split on the logarithms, the suggested step.
#include <gtest/gtest.h>

#include <vector>

#include "app/tune.h"
#include "player/motion.h"

using namespace orv;

namespace {

std::vector<int> Range(int from, int count, int step = 1) {
  std::vector<int> v;
  for (int i = 0; i < count; ++i) v.push_back(from + i * step);
  return v;
}

std::vector<int> Join(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(MotionLevels, PercentileIsTheNearestRankOfUnsortedValues) {
  struct Case {
    std::vector<int> values;
    double p;
    int expected;
  };
  const std::vector<int> hundred = {55, 3, 99, 1, 100, 42, 10, 11, 2, 98};  // unsorted
  const Case cases[] = {
      {{}, 50, 0},
      {{5, 1, 4, 2, 3}, 50, 3},  // rank ceil(2.5) = 3
      {{5, 1, 4, 2, 3}, 0, 1},   // rank 0 becomes 1: the smallest
      {{5, 1, 4, 2, 3}, 100, 5},
      {{5, 1, 4, 2, 3}, 150, 5},  // p beyond 100 is 100
      {{5, 1, 4, 2, 3}, 20, 1},   // rank exactly 1
      {{5, 1, 4, 2, 3}, 20.01, 2},
      {hundred, 99, 100},  // rank ceil(9.9) = 10
      {hundred, 90, 99},   // rank 9
      {hundred, 10, 1},
      {hundred, 10.5, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(Percentile(c.values, c.p), c.expected) << c.p << " of " << c.values.size();
}

TEST(MotionLevels, LevelsSeparationAndThresholdExactly) {
  // Still 100..109: 99th percentile 109, 1st 100. Moving 1000..1090: 5th percentile 1000 (rank
  // 1). The gap log(1001/110) is 25.9 times the still values' spread log(110/101); threshold
  // sqrt(109 * 1000) = 330.15 -> 330.
  MotionLevels m = LevelsOf(Range(100, 10), Range(1000, 10, 10), 1);
  EXPECT_EQ(m.stillCount, 10);
  EXPECT_EQ(m.movingCount, 10);
  EXPECT_EQ(m.still, 109);
  EXPECT_EQ(m.stillLow, 100);
  EXPECT_EQ(m.motion, 1000);
  EXPECT_DOUBLE_EQ(m.margin, 1000.0 / 109.0);
  EXPECT_NEAR(m.separation, 25.870177, 1e-6);
  EXPECT_EQ(m.threshold, 330);
  EXPECT_TRUE(m.separated);
  EXPECT_EQ(m.why, "");

  // The still level is floored at one grey level on one sample point in a hundred: 48 at step 4.
  m = LevelsOf(Range(10, 10), Range(20000, 10), 4800);
  EXPECT_EQ(m.still, 48);
  EXPECT_EQ(m.threshold, 980);  // sqrt(48 * 20000) = 979.8

  // A gap of 1.02 times the still spread separates (motion 119); 0.92 (motion 118) does not.
  m = LevelsOf(Range(100, 10), std::vector<int>(10, 119), 1);
  EXPECT_TRUE(m.separated);
  EXPECT_EQ(m.threshold, 114);
  m = LevelsOf(Range(100, 10), std::vector<int>(10, 118), 1);
  EXPECT_FALSE(m.separated);
  EXPECT_EQ(m.threshold, 0);
  EXPECT_EQ(m.why, "no clear separation: the motion level 118 is 1.08 times the still level 109, a gap of 0.92 times "
                   "the still values' own spread, below 1.0");

  // Ten values in each class are enough, nine are not; an empty class has margin 0.
  m = LevelsOf(Range(100, 9), Range(1000, 10), 1);
  EXPECT_FALSE(m.separated);
  EXPECT_EQ(m.why, "9 still and 10 moving values; at least 10 of each are needed");
  m = LevelsOf(Range(100, 10), {}, 1);
  EXPECT_EQ(m.why, "10 still and 0 moving values; at least 10 of each are needed");
  EXPECT_EQ(m.margin, 0.0);
  EXPECT_EQ(LevelsOf({}, Range(1000, 10), 1).margin, 0.0);
  EXPECT_DOUBLE_EQ(LevelsOf({5}, Range(1000, 10), 1).margin, 200.0);  // one value is a class
  EXPECT_DOUBLE_EQ(LevelsOf(Range(100, 10), {2000}, 1).margin, 2000.0 / 109.0);
}

TEST(MotionLevels, SplitFallsWhereTheLogarithmsPartBest) {
  // Noise 3..14 and motion in a few distinct steps: the largest still value is 14.
  const std::vector<int> still = Range(3, 12);
  const std::vector<int> moving = {5000, 9000, 7000, 6000, 8000, 5500, 6500, 7500, 8500, 9500, 30000};
  int split = -1;
  MotionLevels m = SeparateMotion(Join(moving, still), 1, &split);  // unsorted on purpose
  EXPECT_EQ(split, 14);
  EXPECT_EQ(m.stillCount, 12);
  EXPECT_EQ(m.movingCount, 11);
  EXPECT_EQ(m.still, 14);
  EXPECT_EQ(m.motion, 5000);  // rank ceil(0.55) = 1
  EXPECT_TRUE(m.separated);

  // One value throughout, and none at all: nothing to split, and the reason.
  m = SeparateMotion(std::vector<int>(30, 77), 1, &split);
  EXPECT_FALSE(m.separated);
  EXPECT_EQ(split, 77);
  EXPECT_EQ(m.why, "no clear separation: nothing moves (camera noise alone): 90 % of the values lie between 77 and 77");
  m = SeparateMotion({}, 1, &split);
  EXPECT_EQ(split, 0);
  EXPECT_EQ(m.why, "no motion values");
  // Negative values (none are measured) count as 0 on the log axis.
  m = SeparateMotion(Join(std::vector<int>(12, -5), Range(4000, 12, 100)), 1, &split);
  EXPECT_EQ(split, -5);
}

TEST(MotionLevels, SuggestedStepIsTheMedianTurningBurstOverTheSpan) {
  const int q = 1, hi = 500;  // a quiet and a moving cycle at threshold 100
  auto burst = [&](int n) {
    std::vector<int> v(static_cast<size_t>(n), hi);
    v.push_back(q);
    return v;
  };
  struct Case {
    std::vector<int> sums;
    double span;
    int frames;
    double step, median;
  };
  // A 0 (no camera frame) neither counts nor ends a burst: 5 + 4 makes one burst of 9.
  const std::vector<int> split9 = {hi, hi, hi, hi, hi, 0, hi, hi, hi, hi, q};
  const Case cases[] = {
      {Join(Join(split9, burst(4)), burst(6)), 0.5, 120, 10.0, 6.0},  // bursts 9, 4, 6: median 6
      {Join(burst(4), burst(7)), 0.5, 100, 9.091, 5.5},               // even count: mean of the two
      {Join(burst(3), burst(2)), 0.5, 100, 0.0, 0.0},                 // 3 cycles do not turn
      {burst(4), 0.5, 0, 0.0, 0.0},                                   // no frames
      {burst(4), 0.001, 1, 0.001, 4.0},                               // never below 0.001
  };
  for (const Case& c : cases) {
    double median = -1.0;
    EXPECT_DOUBLE_EQ(SuggestStep(c.sums, 100, c.span, c.frames, &median), c.step) << c.sums.size();
    EXPECT_DOUBLE_EQ(median, c.median) << c.sums.size();
  }
}
