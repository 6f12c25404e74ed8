#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "kb/learning_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "recognition/recognition.h"
#include "engine_fixture.h"

using namespace orv;

class MotionMaps : public orvtest::EngineTest {};
class MapRegions : public orvtest::EngineTest {};

namespace {

uint8_t* Current() { return recog.GrayFrame[recog.GrayFrameIndex].data(); }
uint8_t* Previous() { return recog.GrayFrame[1 - recog.GrayFrameIndex].data(); }
int At(int col, int row) { return row * kGriW + col; }

struct Region {
  int x1, x2, y1, y2, cx, cy, radius;
  bool operator==(const Region&) const = default;
};
Region RegionOf(int k) {
  const FeatureMapRecord& m = recog.FeatureMap[k];
  return {m.x1, m.x2, m.y1, m.y2, m.cx, m.cy, m.radius};
}

// The region search as a plain scan: columns from each side, then rows inside them.
Region ScanRegion(const std::array<uint8_t, kGriPixels>& px) {
  auto colHas = [&](int c) {
    for (int r = 0; r < kGriH; ++r)
      if (px[At(c, r)]) return true;
    return false;
  };
  Region g{};
  for (int c = 0; c < kGriW; ++c)
    if (colHas(c)) { g.x1 = c; break; }
  for (int c = kGriW - 1; c >= g.x1; --c)
    if (colHas(c)) { g.x2 = c; break; }
  auto rowHas = [&](int r) {
    for (int c = g.x1; c <= g.x2; ++c)
      if (px[At(c, r)]) return true;
    return false;
  };
  for (int r = 0; r < kGriH; ++r)
    if (rowHas(r)) { g.y1 = r; break; }
  for (int r = kGriH - 1; r >= g.y1; --r)
    if (rowHas(r)) { g.y2 = r; break; }
  long sx = 0, sy = 0, n = 0;
  for (int r = g.y1; r <= g.y2; ++r)
    for (int c = g.x1; c <= g.x2; ++c)
      if (px[At(c, r)]) { sx += c; sy += r; ++n; }
  g.cx = n ? int(sx / n) : g.x1 + (g.x2 - g.x1) / 2;
  g.cy = n ? int(sy / n) : g.y1 + (g.y2 - g.y1) / 2;
  g.radius = int(0.5 * std::sqrt(double((g.x2 - g.x1) * (g.x2 - g.x1) + (g.y2 - g.y1) * (g.y2 - g.y1))));
  return g;
}

}  // namespace

TEST_F(MotionMaps, IdenticalFramesGiveAnEmptyDifferenceMap) {
  std::mt19937 rng(7);
  for (int i = 0; i < kGriPixels; ++i) Current()[i] = Previous()[i] = uint8_t(rng());
  ComputeMotionMaps();
  EXPECT_EQ(recog.DiffPixelCount, 0.0);
  for (uint8_t p : recog.FeatureMap[1].pixel) ASSERT_EQ(p, 0);
  EXPECT_EQ(PreGetGC(1), -999);
  EXPECT_EQ(RegionOf(1), (Region{0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(MotionMaps, ThresholdsAreStrict) {
  learn.DThreshold = 40;
  learn.MThreshold = 40;
  Current()[At(10, 10)] = 90;  // difference 40: not counted
  Previous()[At(10, 10)] = 50;
  Current()[At(20, 10)] = 91;  // difference 41
  Previous()[At(20, 10)] = 50;
  Current()[At(30, 10)] = 40;  // exactly MThreshold: background
  ComputeMotionMaps();
  EXPECT_EQ(recog.DiffPixelCount, 1.0);
  EXPECT_EQ(recog.FeatureMap[1].pixel[At(10, 10)], 0);
  EXPECT_EQ(recog.FeatureMap[1].pixel[At(20, 10)], 5);
  EXPECT_EQ(recog.ForegroundPixelCount, 2.0);
  EXPECT_EQ(recog.FeatureMap[2].pixel[At(10, 10)], 7);
  EXPECT_EQ(recog.FeatureMap[2].pixel[At(30, 10)], 0);
  // Thresholds beyond the byte range: below 0 every pixel counts, from 255 on none does.
  learn.DThreshold = -1;
  learn.MThreshold = 255;
  Current()[At(40, 40)] = 255;
  ComputeMotionMaps();
  EXPECT_EQ(recog.DiffPixelCount, kGriPixels);
  EXPECT_EQ(recog.ForegroundPixelCount, 0.0);
  learn.DThreshold = 1000;
  learn.MThreshold = -7;
  ComputeMotionMaps();
  EXPECT_EQ(recog.DiffPixelCount, 0.0);
  EXPECT_EQ(recog.ForegroundPixelCount, kGriPixels);
}

TEST_F(MotionMaps, EdgesNeedStrongContrastAndNeverLieOnTheBorder) {
  learn.MThreshold = 40;  // edge contrast limit trunc(28.0) = 28
  // A bright frame with vertical stripes: every foreground pixel has a horizontal contrast.
  for (int r = 0; r < kGriH; ++r)
    for (int c = 0; c < kGriW; ++c) Current()[At(c, r)] = (c % 4 < 2) ? 100 : 200;
  ComputeMotionMaps();
  const auto& edge = recog.FeatureMap[4].pixel;
  for (int r = 0; r < kGriH; ++r)
    for (int c = 0; c < kGriW; ++c) {
      const bool border = r == 0 || r == kGriH - 1 || c == 0 || c == kGriW - 1;
      ASSERT_EQ(edge[At(c, r)], border ? 0 : 6) << c << "," << r;
    }
  // Contrast of exactly the limit is no edge; one more is.
  for (int i = 0; i < kGriPixels; ++i) Current()[i] = 100;
  Current()[At(40, 29)] = 128;  // vertical contrast at (40, 30) = 28
  Current()[At(10, 30)] = 129;  // horizontal contrast at (11, 30) = 29
  ComputeMotionMaps();
  EXPECT_EQ(edge[At(40, 30)], 0);
  EXPECT_EQ(edge[At(11, 30)], 6);
  // A dark pixel (not foreground) is never an edge, whatever its neighbours.
  Current()[At(12, 30)] = 10;
  Current()[At(12, 29)] = 250;
  ComputeMotionMaps();
  EXPECT_EQ(edge[At(12, 30)], 0);
}

TEST_F(MotionMaps, DisabledMapsStayEmptyButCountsGoOn) {
  for (int i = 0; i < kGriPixels; ++i) {
    Current()[i] = 200;
    Previous()[i] = 0;
  }
  engine.MapEnable = {1, 0, 0, 1, 0};
  ComputeMotionMaps();
  EXPECT_EQ(recog.DiffPixelCount, kGriPixels);
  EXPECT_EQ(recog.ForegroundPixelCount, kGriPixels);
  for (int k : {1, 2, 4})
    for (uint8_t p : recog.FeatureMap[k].pixel) ASSERT_EQ(p, 0) << k;
  recog.FeatureMap[2].pixel[At(5, 5)] = 7;  // stale marks of a disabled map are not analysed
  recog.FeatureMap[2].x2 = 33;
  EXPECT_EQ(PreGetGC(2), -999);
  EXPECT_EQ(RegionOf(2), (Region{0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(MapRegions, SingleMarkedPixel) {
  learn.SKIP = 1.0;
  recog.FeatureMap[1].pixel[At(17, 42)] = 5;
  EXPECT_EQ(PreGetGC(1), -999);
  EXPECT_EQ(RegionOf(1), (Region{17, 17, 42, 42, 17, 42, 0}));
}

TEST_F(MapRegions, BoxCentroidAndRadiusMatchAPlainScan) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    auto& px = recog.FeatureMap[4].pixel;
    px.fill(0);
    // Sparse clusters of varying size, sometimes touching the border.
    const int blobs = 1 + int(rng() % 4);
    for (int b = 0; b < blobs; ++b) {
      const int c0 = int(rng() % kGriW), r0 = int(rng() % kGriH), w = 1 + int(rng() % 30);
      for (int k = 0; k < w; ++k) {
        const int c = std::min(kGriW - 1, c0 + int(rng() % w)), r = std::min(kGriH - 1, r0 + int(rng() % w));
        px[At(c, r)] = 6;
      }
    }
    learn.SKIP = 1.0 + rng() % 5;
    const Region want = ScanRegion(px);
    const int rc = PreGetGC(4);
    ASSERT_EQ(RegionOf(4), want) << "trial " << trial;
    ASSERT_EQ(rc, want.radius > int(learn.SKIP) ? 0 : -999);
  }
}

TEST_F(MapRegions, CentroidOfTwoCornersAndTheStatusValues) {
  learn.SKIP = 1.0;
  recog.FeatureMap[1].pixel[At(10, 10)] = 5;
  recog.FeatureMap[1].pixel[At(21, 30)] = 5;
  recog.FeatureMap[1].pixel[At(21, 31)] = 5;  // box 10..21 x 10..31
  recog.FeatureMap[2].pixel[At(0, 0)] = 7;
  recog.FeatureMap[2].pixel[At(43, 43)] = 7;  // box 0..43 x 0..43
  EXPECT_EQ(PreGetGC(1), 0);
  EXPECT_EQ(RegionOf(1), (Region{10, 21, 10, 31, 17, 23, 11}));  // radius trunc(0.5*sqrt(121+441))
  EXPECT_EQ(PreGetGC(2), 0);
  recog.DiffPixelCount = 3;
  recog.ForegroundPixelCount = 6;
  ComputeStatusValues();
  EXPECT_DOUBLE_EQ(recog.rv, 3 + 11 * 21);
  EXPECT_DOUBLE_EQ(recog.rt, 4.0 * 3 / 6 + (11.0 * 21) / (43.0 * 43));
  recog.ForegroundPixelCount = 0;
  ComputeStatusValues();
  EXPECT_EQ(recog.rt, 0.0);
}

TEST_F(MapRegions, OutOfRangeMapNumberIsRefused) {
  EXPECT_EQ(PreGetGC(-1), -999);
  EXPECT_EQ(PreGetGC(5), -999);
}
