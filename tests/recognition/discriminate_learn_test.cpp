// Learning through Discriminate and the characteristics shared by a view-point group.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "kb/learning_state.h"
#include "recognition/recognition_state.h"
#include "engine_fixture.h"
#include "recognition/recognition.h"

using namespace orv;

namespace {

struct Out {
  double similarity[8];
  int bestSample[8];
  int gesture[8];
};

class GroupSharing : public orvtest::EngineTest {
 protected:
  // A frame whose difference map holds a filled rectangle.
  void MarkDifference(int x1, int x2, int y1, int y2) {
    auto& px = recog.FeatureMap[1].pixel;
    px.fill(0);
    for (int r = y1; r <= y2; ++r)
      for (int c = x1; c <= x2; ++c) px[r * kGriW + c] = 5;
    ASSERT_EQ(PreGetGC(1), 0);
  }
  int Learn(int view, int gesture, int mflg, Out& o) {
    for (int g = 0; g < 8; ++g) o.similarity[g] = 0, o.bestSample[g] = mflg, o.gesture[g] = -1;
    return Discriminate(gesture, o.similarity, o.bestSample, o.gesture, view);
  }
};
class Learning : public GroupSharing {};

double MaxOf(const std::array<double, kDirections>& a) {
  double m = -1e300;
  for (double v : a) m = std::max(m, v);
  return m;
}

}  // namespace

TEST_F(GroupSharing, OneComputationServesTheGroupAndViews2And3AreNormalised) {
  Out o;
  MarkDifference(20, 40, 10, 30);
  BeginFrameViews();
  ASSERT_EQ(Learn(0, 2, 1, o), 0);
  const GcRecordT raw = recog.GcRecord;
  // The map changes, but the rest of the group keeps the frame's characteristics.
  MarkDifference(50, 60, 40, 45);
  for (int v = 1; v < 4; ++v) ASSERT_EQ(Learn(v, 2, 1, o), 0) << v;
  EXPECT_EQ(Patterns->Re[0][2][0], raw.Re);
  EXPECT_EQ(Patterns->Ps[0][2][0], raw.Ps);
  EXPECT_EQ(Patterns->Re[1][2][0], raw.Re);
  EXPECT_EQ(Patterns->Ps[1][2][0], raw.Ps);
  const double maxRe = MaxOf(raw.Re), maxPs = MaxOf(raw.Ps);
  for (int v : {2, 3})
    for (int i = 0; i < kDirections; ++i) {
      ASSERT_EQ(Patterns->Re[v][2][0][i], raw.Re[i] / maxRe);
      ASSERT_EQ(Patterns->Ps[v][2][0][i], raw.Ps[i] / maxPs);
    }
  EXPECT_EQ(MaxOf(Patterns->Re[3][2][0]), 1.0);
  // The next group computes afresh from the changed map.
  ASSERT_EQ(Learn(24, 2, 1, o), -999);  // edge map: empty
  ASSERT_EQ(Learn(28, 2, 1, o), -999);  // foreground map in the new difference region: empty
  recog.FeatureMap[2].pixel = recog.FeatureMap[1].pixel;
  BeginFrameViews();
  ASSERT_EQ(Learn(29, 2, 1, o), 0);
  EXPECT_NE(Patterns->Ps[29][2][0], raw.Ps);
  // So does the same group in the next frame.
  BeginFrameViews();
  ASSERT_EQ(Learn(1, 2, 2, o), 0);
  EXPECT_NE(Patterns->Re[1][2][1], raw.Re);
}

TEST_F(GroupSharing, ANonPositiveMaximumFailsTheNormalisedViews) {
  recog.GcSaved = GcRecordT{};
  recog.GcSaved.Ps.fill(1.0);  // Re all 0
  recog.GcValid = 1;
  recog.LastView = 0;
  Out o;
  EXPECT_EQ(Learn(2, 0, 1, o), -999);
  EXPECT_EQ(PatternPresent[2][0][0], 0);
}

TEST_F(GroupSharing, AFrameWithoutMarkedPixelsFailsTheView) {
  Out o;
  recog.FeatureMap[1].pixel.fill(0);
  recog.FeatureMap[1].x2 = 30;  // a region over an empty map
  recog.FeatureMap[1].y2 = 30;
  recog.FeatureMap[1].cx = recog.FeatureMap[1].cy = 15;
  recog.FeatureMap[1].radius = 21;
  BeginFrameViews();
  EXPECT_EQ(Learn(0, 0, 1, o), -999);
  EXPECT_EQ(PatternPresent[0][0][0], 0);
}

TEST_F(Learning, StoresTheFrameAsSampleMflgMinusOneAndOverwritesInPlace) {
  Out o;
  MarkDifference(20, 40, 10, 30);
  BeginFrameViews();
  ASSERT_EQ(Learn(0, 5, 9, o), 0);
  EXPECT_EQ(o.gesture[5], 5);
  EXPECT_EQ(o.similarity[5], 1.0);
  EXPECT_EQ(o.gesture[4], -1);
  EXPECT_EQ(PatternPresent[0][5][8], 1);
  EXPECT_EQ(learn.SampleHigh[0][5], 9);
  EXPECT_EQ(Patterns->Re[0][5][8], recog.GcRecord.Re);
  // An earlier frame number does not lower the high mark.
  BeginFrameViews();
  ASSERT_EQ(Learn(0, 5, 3, o), 0);
  EXPECT_EQ(learn.SampleHigh[0][5], 9);
  EXPECT_EQ(PatternPresent[0][5][2], 1);

  // The same frame number twice overwrites in place.
  BeginFrameViews();
  ASSERT_EQ(Learn(0, 1, 4, o), 0);
  const auto first = Patterns->Re[0][1][3];
  MarkDifference(5, 70, 5, 50);
  BeginFrameViews();
  ASSERT_EQ(Learn(0, 1, 4, o), 0);
  EXPECT_NE(Patterns->Re[0][1][3], first);
  EXPECT_EQ(Patterns->Re[0][1][3], recog.GcRecord.Re);
  EXPECT_EQ(PatternPresent[0][1][3], 1);
  EXPECT_EQ(learn.SampleHigh[0][1], 4);
  int present = 0;
  for (int s = 0; s < kSeqFrames; ++s) present += PatternPresent[0][1][s];
  EXPECT_EQ(present, 1);
}

TEST_F(Learning, AFrameNumberOutsideTheSlotsStoresNothing) {
  Out o;
  MarkDifference(20, 40, 10, 30);
  for (int mflg : {0, 201, -5}) {
    BeginFrameViews();
    EXPECT_EQ(Learn(0, 1, mflg, o), -999) << mflg;
  }
  EXPECT_EQ(learn.SampleHigh[0][1], -1);
}

TEST_F(Learning, NoMemoryForTheRecordsLeavesTheSlotEmpty) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs its own address space";
#else
  // Cap the address space just above what the process uses now.
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
  rlimit cap = old;
  cap.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (8 << 20);
  Out o;
  MarkDifference(20, 40, 10, 30);
  BeginFrameViews();
  ASSERT_EQ(setrlimit(RLIMIT_AS, &cap), 0);
  testing::internal::CaptureStderr();
  const int rc = Learn(0, 1, 4, o);
  const std::string err = testing::internal::GetCapturedStderr();
  setrlimit(RLIMIT_AS, &old);
  EXPECT_EQ(rc, -999);
  EXPECT_EQ(PatternPresent[0][1][3], 0);
  EXPECT_EQ(learn.SampleHigh[0][1], -1);
  EXPECT_NE(err.find("No memory for a pattern record (MODE:0 GESTURE:1 SAMPLE:3)"), std::string::npos);
  // With memory back the same frame is stored.
  BeginFrameViews();
  EXPECT_EQ(Learn(0, 1, 4, o), 0);
  EXPECT_EQ(PatternPresent[0][1][3], 1);
#endif
}
