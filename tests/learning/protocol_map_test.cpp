// Protocol map: the kernel density of the learned similarities per view point.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "kb/learning_state.h"
#include "learning/learning.h"
#include "learning/learning_work.h"
#include "recognition/engine_setup.h"

using namespace orv;

namespace {

struct ProtocolMapTest : testing::Test {
  void SetUp() override {
    learn = LearningState{};
    engine = EngineSetup{};
    learning = LearningWork{};
    BuildKernelTables();
  }
};

void SetSample(int g, int v, int s, double similarity, int valid = 1) {
  SampleTable[g][g][v][s] = SampleRecord{valid, 0, similarity, 1.0};
}

// The map as a level-by-level walk computes it: every level adds the kernel of each valid
// sample in sample order; an index beyond the table adds nothing.
std::array<std::array<double, kLevels>, kViews> LiteralMap(int g) {
  std::array<std::array<double, kLevels>, kViews> out{};
  double highest = -1e15;
  for (int v = 0; v < kViews; ++v)
    for (int e = 0; e < kLevels; ++e) {
      double sum = 0.0;
      for (int s = 0; s < kSeqFrames; ++s) {
        const SampleRecord& r = SampleTable[g][g][v][s];
        if (r.valid != 1) continue;
        const double d = std::fabs(e / 999.0 - r.similarity);
        const double k = 999.0 * d;
        if (k < 1000.0) sum += learning.MapKernel[static_cast<int>(k)];
      }
      out[v][e] = sum;
      if (sum > highest) highest = sum;
    }
  if (highest > 0.0)
    for (auto& levels : out)
      for (double& x : levels) x /= highest;
  return out;
}

bool BlockIsZero(int g, int c) {
  for (const auto& levels : ProtocolMap[g][c])
    for (double x : levels)
      if (x != 0.0) return false;
  return true;
}

}  // namespace

TEST_F(ProtocolMapTest, EqualsTheLevelByLevelSumsBitForBit) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int round = 0; round < 3; ++round) {
    learn.OK_HIGH = round == 2 ? 37 : 500;
    BuildKernelTables();
    const int g = 2 + round;
    for (int v = 0; v < kViews; ++v)
      for (int s = 0; s < kSeqFrames; ++s) {
        // Mostly ordinary similarities, some on the level grid, some outside 0..1.
        double sim = unit(rng);
        if (s % 17 == 0) sim = (rng() % 1000) / 999.0;
        if (s % 53 == 0) sim = 1.0 + unit(rng);
        if (s % 61 == 0) sim = -0.25 * unit(rng);
        SetSample(g, v, s, sim, (v + s + round) % 3 == 0 ? 0 : 1);
      }
    SampleTable[g][g][4][9].valid = 2;  // only a flag of exactly 1 counts
    BuildProtocolMap(g);
    const auto want = LiteralMap(g);
    ASSERT_EQ(std::memcmp(&want, &ProtocolMap[g][g], sizeof want), 0) << "round " << round;
  }
}

TEST_F(ProtocolMapTest, EmptyAndSingleSampleMaps) {
  // No valid sample: an all-zero block.
  SetSample(1, 3, 0, 0.5, 0);
  ProtocolMap[1][1][3][7] = 0.25;
  BuildProtocolMap(1);
  EXPECT_TRUE(BlockIsZero(1, 1));

  // One sample at 0.5: its view peaks at 1 on both neighbouring levels, the rest is zero.
  SetSample(1, 6, 42, 0.5);
  BuildProtocolMap(1);
  EXPECT_EQ(ProtocolMap[1][1][6][499], 1.0);
  EXPECT_EQ(ProtocolMap[1][1][6][500], 1.0);
  EXPECT_LT(ProtocolMap[1][1][6][600], 0.1);
  for (int v = 0; v < kViews; ++v) {
    if (v == 6) continue;
    for (double x : ProtocolMap[1][1][v]) ASSERT_EQ(x, 0.0) << v;
  }

  // The normalisation is over the whole gesture: a view with one sample of the same
  // similarity where another has two peaks at one half.
  SetSample(1, 6, 43, 0.5);
  SetSample(1, 9, 0, 0.5);
  BuildProtocolMap(1);
  EXPECT_EQ(ProtocolMap[1][1][6][500], 1.0);
  EXPECT_EQ(ProtocolMap[1][1][9][500], 0.5);
}

TEST_F(ProtocolMapTest, RebuildingAGestureTouchesOnlyItsOwnBlocks) {
  SetSample(0, 0, 0, 0.3);
  SetSample(5, 0, 0, 0.8);
  BuildProtocolMap(0);
  BuildProtocolMap(5);
  const auto gesture0 = std::make_unique<ProtocolMapT::value_type>(ProtocolMap[0]);  // 2 MB
  ProtocolMap[5][2][10][10] = 3.0;  // stale data in another channel of gesture 5
  ProtocolMap[5][7][31][999] = -0.0;
  SetSample(5, 0, 0, 0.1);
  BuildProtocolMap(5);
  for (int c = 0; c < kGestures; ++c) {
    if (c == 5) continue;
    EXPECT_TRUE(BlockIsZero(5, c)) << c;
  }
  EXPECT_FALSE(std::signbit(ProtocolMap[5][7][31][999]));
  EXPECT_EQ(ProtocolMap[5][5][0][100], 1.0);
  EXPECT_TRUE(ProtocolMap[0] == *gesture0);

  BuildProtocolMap(8);  // not a gesture: nothing happens
  BuildProtocolMap(-1);
  EXPECT_TRUE(ProtocolMap[0] == *gesture0);
}
