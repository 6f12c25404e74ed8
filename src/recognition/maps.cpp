// Motion maps of the 80x60 recognizer frame and the regions their marked pixels occupy.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/control_state.h"
#include "common/learning_state.h"
#include "common/platform.h"
#include "common/recognition_state.h"
#include "recognition/recognition.h"

namespace orv {

namespace {

constexpr uint8_t kDiffMark = 5;
constexpr uint8_t kForegroundMark = 7;
constexpr uint8_t kEdgeMark = 6;

// trunc(SKIP) without undefined conversions: a SKIP that is not a finite number or lies
// beyond int range never counts as a usable step.
int SkipSteps() {
  const double s = learn.SKIP;
  if (!(s >= 0.0)) return 0;
  if (s > 1e6) return 1000000;
  return static_cast<int>(s);
}

void ClearRegion(FeatureMapRecord& m) { m.x1 = m.x2 = m.y1 = m.y2 = m.cx = m.cy = m.radius = 0; }

}  // namespace

void ComputeMotionMaps() {
  const int cur = recog.GrayFrameIndex & 1;
  const uint8_t* c = recog.GrayFrame[cur].data();
  const uint8_t* p = recog.GrayFrame[1 - cur].data();
  const uint8_t* ref = recog.FeatureMap[0].pixel.data();
  uint8_t* diff = recog.FeatureMap[1].pixel.data();
  uint8_t* fg = recog.FeatureMap[2].pixel.data();
  uint8_t* edge = recog.FeatureMap[4].pixel.data();

  const int M = learn.MThreshold;
  const int D = learn.DThreshold;
  const int E = static_cast<int>(M * 0.7);
  const bool diffOn = learn.MapEnable[1] != 0;
  const bool fgOn = learn.MapEnable[2] != 0;
  const bool edgeOn = learn.MapEnable[4] != 0;

  int fgCount = 0;
  int diffCount = 0;
  // Branch-free per pixel so the pass vectorises; the edge test below needs the
  // neighbours of the whole frame and runs on the foreground pixels only.
  for (int i = 0; i < kGriPixels; ++i) {
    const int f = std::abs(c[i] - ref[i]) > M;
    const int d = std::abs(c[i] - p[i]) > D;
    fgCount += f;
    diffCount += d;
    fg[i] = static_cast<uint8_t>((fgOn && f) ? kForegroundMark : 0);
    diff[i] = static_cast<uint8_t>((diffOn && d) ? kDiffMark : 0);
    edge[i] = 0;
  }
  if (edgeOn) {
    for (int row = 1; row < kGriH - 1; ++row) {
      for (int col = 1; col < kGriW - 1; ++col) {
        const int i = row * kGriW + col;
        if (!(std::abs(c[i] - ref[i]) > M)) continue;
        if (std::abs(c[i - kGriW] - c[i + kGriW]) > E || std::abs(c[i - 1] - c[i + 1]) > E ||
            std::abs(c[i - kGriW - 1] - c[i + kGriW + 1]) > E ||
            std::abs(c[i - kGriW + 1] - c[i + kGriW - 1]) > E)
          edge[i] = kEdgeMark;
      }
    }
  }
  recog.ForegroundPixelCount = fgCount;
  recog.DiffPixelCount = diffCount;
}

int PreGetGC(int k) {
  if (k < 0 || k >= kMaps) return -999;
  FeatureMapRecord& m = recog.FeatureMap[k];
  if (!learn.MapEnable[k]) {
    ClearRegion(m);
    return -999;
  }
  // Every marked pixel lies inside the box, so one pass gives the box, the
  // centroid over the box and the pixel count alike.
  bool colHit[kGriW] = {};
  bool rowHit[kGriH] = {};
  long sumX = 0, sumY = 0, n = 0;
  const uint8_t* px = m.pixel.data();
  for (int row = 0; row < kGriH; ++row) {
    const uint8_t* line = px + row * kGriW;
    for (int col = 0; col < kGriW; ++col) {
      if (!line[col]) continue;
      colHit[col] = true;
      rowHit[row] = true;
      sumX += col;
      sumY += row;
      ++n;
    }
  }
  int x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (int col = 0; col < kGriW; ++col)
    if (colHit[col]) {
      x1 = col;
      break;
    }
  for (int col = kGriW - 1; col >= x1; --col)
    if (colHit[col]) {
      x2 = col;
      break;
    }
  for (int row = 0; row < kGriH; ++row)
    if (rowHit[row]) {
      y1 = row;
      break;
    }
  for (int row = kGriH - 1; row >= y1; --row)
    if (rowHit[row]) {
      y2 = row;
      break;
    }
  if (x1 < 0 || x1 >= kGriW || x2 < 0 || x2 >= kGriW || y1 < 0 || y1 >= kGriH || y2 < 0 ||
      y2 >= kGriH) {
    if (control.CamBeep) Bell();
    std::printf("Error: Illegal operation found in PreGetGC().\n");
  }
  int cx, cy;
  if (n > 0) {
    cx = static_cast<int>(sumX / n);
    cy = static_cast<int>(sumY / n);
  } else {
    cx = x1 + (x2 - x1) / 2;
    cy = y1 + (y2 - y1) / 2;
  }
  const double dx = x2 - x1, dy = y2 - y1;
  const int radius = static_cast<int>(0.5 * std::sqrt(dx * dx + dy * dy));
  m.x1 = x1;
  m.x2 = x2;
  m.y1 = y1;
  m.y2 = y2;
  m.cx = cx;
  m.cy = cy;
  m.radius = radius;
  return radius > SkipSteps() ? 0 : -999;
}

void ComputeStatusValues() {
  const FeatureMapRecord& d = recog.FeatureMap[1];
  const FeatureMapRecord& f = recog.FeatureMap[2];
  const double a1 = std::fabs(static_cast<double>(d.x2 - d.x1) * (d.y2 - d.y1));
  const double a2 = std::fabs(static_cast<double>(f.x2 - f.x1) * (f.y2 - f.y1));
  const double ratio = a2 > 0 ? a1 / a2 : 0.0;
  recog.rv = recog.DiffPixelCount + a1;
  recog.rt = recog.ForegroundPixelCount > 0
                 ? 4.0 * recog.DiffPixelCount / recog.ForegroundPixelCount + ratio
                 : 0.0;
}

void BeginFrameViews() {
  recog.FeatureMap[3] = FeatureMapRecord{};
  recog.GroupCopied.fill(0);
  recog.LastView = -99;
}

}  // namespace orv
