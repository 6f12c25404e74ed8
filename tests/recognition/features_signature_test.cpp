#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>

#include "kb/learning_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "recognition/recognition.h"
#include "engine_fixture.h"

using namespace orv;

class ViewPointGroups : public orvtest::EngineTest {};
class SignatureWalk : public orvtest::EngineTest {};

namespace {

int At(int col, int row) { return row * kGriW + col; }

void FillRadialWeight() {
  for (int b = 0; b < 1000; ++b) engine.RadialWeight[b] = std::exp(-5.0 * (999.0 - b) * (999.0 - b) / 1e6);
}

void SetUp1() {
  learn.SKIP = 1.0;
  FillDirectionTables();
  FillRadialWeight();
}

void SetRegion(int k, int x1, int x2, int y1, int y2, int cx, int cy, int radius) {
  FeatureMapRecord& m = recog.FeatureMap[k];
  m.x1 = x1, m.x2 = x2, m.y1 = y1, m.y2 = y2, m.cx = cx, m.cy = cy, m.radius = radius;
}

}  // namespace

TEST_F(ViewPointGroups, EachGroupReadsItsMapAndRegion) {
  // Tag every map with its own number so WorkMap tells which was copied.
  for (int k = 0; k < kMaps; ++k) {
    recog.FeatureMap[k].pixel.fill(uint8_t(k + 10));
    SetRegion(k, k, k + 1, k + 2, k + 3, k + 4, k + 5, k + 6);
  }
  recog.WholeImageRadius = 50;
  const int wantMap[8] = {1, 1, 2, 2, 1, 4, 4, 2};
  const int wantRegion[8] = {1, 2, 2, -1, -1, 4, 1, 1};
  for (int g = 0; g < 8; ++g) {
    for (int view = 4 * g; view < 4 * g + 4; ++view) {
      BeginFrameViews();
      GetGC(view);
      EXPECT_EQ(recog.WorkMap[123], wantMap[g] + 10) << view;
      const GcRecordT& gc = recog.GcRecord;
      if (wantRegion[g] < 0) {
        EXPECT_EQ((std::array{gc.x1, gc.x2, gc.y1, gc.y2, gc.cx, gc.cy, gc.radius}),
                  (std::array{0, 79, 0, 59, 40, 30, 50}));
      } else {
        const int k = wantRegion[g];
        EXPECT_EQ((std::array{gc.x1, gc.x2, gc.y1, gc.y2, gc.cx, gc.cy, gc.radius}),
                  (std::array{k, k + 1, k + 2, k + 3, k + 4, k + 5, k + 6}))
            << view;
      }
    }
  }
}

TEST_F(ViewPointGroups, WorkMapIsCopiedOncePerGroupAndFrame) {
  recog.FeatureMap[1].pixel.fill(5);
  BeginFrameViews();
  GetGC(0);
  recog.FeatureMap[1].pixel.fill(0);
  GetGC(1);  // same group, same frame: the copy stands
  EXPECT_EQ(recog.WorkMap[0], 5);
  GetGC(16);  // another group reading the same map copies it afresh
  EXPECT_EQ(recog.WorkMap[0], 0);
  recog.FeatureMap[1].pixel.fill(5);
  BeginFrameViews();  // next frame
  GetGC(2);
  EXPECT_EQ(recog.WorkMap[0], 5);
}

TEST_F(ViewPointGroups, IllegalViewEndsTheProgram) {
  EXPECT_EXIT(GetGC(32), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        GetGC(-1);
        std::fflush(stdout);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(SignatureWalk, UnusableRegionsAreRejected) {
  SetUp1();
  recog.WorkMap.fill(5);
  GcRecordT& gc = recog.GcRecord;
  auto set = [&](int x1, int x2, int y1, int y2, int cx, int cy, int r) {
    gc = GcRecordT{};
    gc.x1 = x1, gc.x2 = x2, gc.y1 = y1, gc.y2 = y2, gc.cx = cx, gc.cy = cy, gc.radius = r;
  };
  set(10, 12, 10, 11, 11, 10, 1);  // radius 1, SKIP 1
  EXPECT_EQ(RadialSignature(), -1);
  set(10, 14, 10, 13, 12, 11, 2);  // radius 2 is usable
  EXPECT_EQ(RadialSignature(), 0);
  learn.SKIP = 2.0;
  FillDirectionTables();
  EXPECT_EQ(RadialSignature(), -1);  // radius 2, SKIP 2
  learn.SKIP = 1.0;
  FillDirectionTables();
  set(0, 0, 0, 0, 0, 0, 20);  // all four box fields 0
  EXPECT_EQ(RadialSignature(), -1);
  set(-1, 20, 0, 20, 10, 10, 14);
  EXPECT_EQ(RadialSignature(), -1);
  set(0, 80, 0, 20, 10, 10, 14);
  EXPECT_EQ(RadialSignature(), -1);
  set(0, 20, 0, 60, 10, 10, 14);
  EXPECT_EQ(RadialSignature(), -1);
  // A step below one pixel would never end a walk.
  set(10, 30, 10, 30, 20, 20, 14);
  for (double bad : {0.5, 0.0, -3.0, std::nan("")}) {
    learn.SKIP = bad;
    EXPECT_EQ(RadialSignature(), -1) << bad;
  }
}

TEST_F(SignatureWalk, EmptyRegionHasNoHit) {
  SetUp1();
  recog.WorkMap.fill(0);
  GcRecordT& gc = recog.GcRecord;
  gc.x1 = 0, gc.x2 = 79, gc.y1 = 0, gc.y2 = 59, gc.cx = 40, gc.cy = 30, gc.radius = 50;
  EXPECT_EQ(RadialSignature(), -1);
  for (double v : gc.Re) EXPECT_EQ(v, 0.0);
  for (double v : gc.Ps) EXPECT_EQ(v, 0.0);
}

TEST_F(SignatureWalk, FullyMarkedWholeImageHitsEveryDirection) {
  SetUp1();
  recog.FeatureMap[2].pixel.fill(7);
  recog.WholeImageRadius = 50;
  BeginFrameViews();
  GetGC(12);  // foreground map over the whole image
  ASSERT_EQ(RadialSignature(), 0);
  for (int i = 0; i < kDirections; ++i) EXPECT_GT(recog.GcRecord.Re[i], 0.0) << i;
  // Direction 0 walks right from column 40 and leaves the box after 39 steps (x = 80).
  const double delta = 999.0 / 50;
  double sum = 0, t = 0;
  for (int k = 0; k < 39; ++k, t += delta) {
    const int b = int(t);
    sum += b / 999.0 + engine.RadialWeight[b];
  }
  EXPECT_NEAR(recog.GcRecord.Re[0], 50.0 / 39 * sum, 1e-9);
}

TEST_F(SignatureWalk, RimPixelsWeighMoreThanCentralOnes) {
  SetUp1();
  recog.WholeImageRadius = 50;
  // Direction 8 of the whole-image region over a ring near the rim, then over a central blob.
  auto re8 = [](double from, double to) {
    recog.FeatureMap[1].pixel.fill(0);
    for (int r = 0; r < kGriH; ++r)
      for (int c = 0; c < kGriW; ++c) {
        const double d = std::hypot(c - 40.0, r - 30.0);
        if (d >= from && d < to) recog.FeatureMap[1].pixel[At(c, r)] = 5;
      }
    BeginFrameViews();
    GetGC(16);
    EXPECT_EQ(RadialSignature(), 0);
    return recog.GcRecord.Re[8];
  };
  EXPECT_GT(re8(24, 29), re8(0, 5));
}
