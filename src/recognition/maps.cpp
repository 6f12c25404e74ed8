// Motion maps of the 80x60 recognizer frame and the regions their marked pixels occupy.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kb/learning_state.h"
#include "common/platform.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
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

// |a - b| of two bytes, in bytes, so the pixel loops vectorise.
uint8_t AbsDiff(uint8_t a, uint8_t b) { return uint8_t(std::max(a, b) - std::min(a, b)); }

// A byte difference tested against an int threshold: "d > t" for every t.
struct ByteThreshold {
  uint8_t limit;   // t bounded to 0..255
  uint8_t always;  // 1 when t < 0: every difference exceeds it
  explicit ByteThreshold(int t) : limit(uint8_t(std::clamp(t, 0, 255))), always(t < 0) {}
  uint8_t Exceeds(uint8_t d) const { return uint8_t((d > limit) | always); }
};

// Foreground and difference tests of every pixel as 0/1 flags (the maps themselves are
// the buffers). Separate parameters so the compiler may take them as unaliased.
void FlagPixels(const uint8_t* __restrict c, const uint8_t* __restrict p,
                const uint8_t* __restrict ref, uint8_t* __restrict fg, uint8_t* __restrict diff,
                ByteThreshold M, ByteThreshold D) {
  for (int i = 0; i < kGriPixels; ++i) {
    fg[i] = M.Exceeds(AbsDiff(c[i], ref[i]));
    diff[i] = D.Exceeds(AbsDiff(c[i], p[i]));
  }
}

// Flags to marks: 0/1 -> 0/mark.
void MarkFlags(uint8_t* __restrict fg, uint8_t* __restrict diff, uint8_t fgMark, uint8_t diffMark) {
  for (int i = 0; i < kGriPixels; ++i) {
    fg[i] = uint8_t(-fg[i]) & fgMark;
    diff[i] = uint8_t(-diff[i]) & diffMark;
  }
}

unsigned CountFlags(const uint8_t* __restrict f) {
  unsigned n = 0;
  for (int i = 0; i < kGriPixels; ++i) n += f[i];
  return n;
}

}  // namespace

void ComputeMotionMaps() {
  const int cur = recog.GrayFrameIndex & 1;
  const uint8_t* c = recog.GrayFrame[cur].data();
  uint8_t* fg = recog.FeatureMap[2].pixel.data();
  uint8_t* diff = recog.FeatureMap[1].pixel.data();
  uint8_t* edge = recog.FeatureMap[4].pixel.data();

  FlagPixels(c, recog.GrayFrame[1 - cur].data(), recog.FeatureMap[0].pixel.data(), fg, diff,
             ByteThreshold(learn.MThreshold), ByteThreshold(learn.DThreshold));
  const unsigned fgCount = CountFlags(fg);
  const unsigned diffCount = CountFlags(diff);

  std::memset(edge, 0, kGriPixels);
  if (engine.MapEnable[4]) {
    // Foreground pixels off the border with a strong contrast across them.
    const ByteThreshold E(static_cast<int>(learn.MThreshold * 0.7));
    for (int row = 1; row < kGriH - 1; ++row) {
      for (int col = 1; col < kGriW - 1; ++col) {
        const int i = row * kGriW + col;
        if (!fg[i]) continue;
        if (E.Exceeds(AbsDiff(c[i - kGriW], c[i + kGriW])) || E.Exceeds(AbsDiff(c[i - 1], c[i + 1])) ||
            E.Exceeds(AbsDiff(c[i - kGriW - 1], c[i + kGriW + 1])) ||
            E.Exceeds(AbsDiff(c[i - kGriW + 1], c[i + kGriW - 1])))
          edge[i] = kEdgeMark;
      }
    }
  }
  MarkFlags(fg, diff, engine.MapEnable[2] ? kForegroundMark : 0, engine.MapEnable[1] ? kDiffMark : 0);
  recog.ForegroundPixelCount = fgCount;
  recog.DiffPixelCount = diffCount;
}

int PreGetGC(int k) {
  if (k < 0 || k >= kMaps) return kCannotUse;
  FeatureMapRecord& m = recog.FeatureMap[k];
  if (!engine.MapEnable[k]) {
    ClearRegion(m);
    return kCannotUse;
  }
  // Every marked pixel lies inside the box, so per-column and per-row counts give the
  // box, the centroid over the box and the pixel count alike.
  uint8_t colCount[kGriW] = {};
  uint8_t rowCount[kGriH] = {};
  const uint8_t* px = m.pixel.data();
  for (int row = 0; row < kGriH; ++row) {
    const uint8_t* line = px + row * kGriW;
    uint8_t inRow = 0;
    for (int col = 0; col < kGriW; ++col) {
      const uint8_t marked = line[col] != 0;
      colCount[col] = uint8_t(colCount[col] + marked);
      inRow = uint8_t(inRow + marked);
    }
    rowCount[row] = inRow;
  }
  long sumX = 0, sumY = 0, n = 0;
  for (int col = 0; col < kGriW; ++col) {
    sumX += long(col) * colCount[col];
    n += colCount[col];
  }
  for (int row = 0; row < kGriH; ++row) sumY += long(row) * rowCount[row];

  int x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (int col = 0; col < kGriW; ++col)
    if (colCount[col]) {
      x1 = col;
      break;
    }
  for (int col = kGriW - 1; col >= x1; --col)
    if (colCount[col]) {
      x2 = col;
      break;
    }
  for (int row = 0; row < kGriH; ++row)
    if (rowCount[row]) {
      y1 = row;
      break;
    }
  for (int row = kGriH - 1; row >= y1; --row)
    if (rowCount[row]) {
      y2 = row;
      break;
    }
  if (x1 < 0 || x1 >= kGriW || x2 < 0 || x2 >= kGriW || y1 < 0 || y1 >= kGriH || y2 < 0 ||
      y2 >= kGriH) {
    if (learn.CamBeep) Bell();
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
  return radius > SkipSteps() ? 0 : kCannotUse;
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

void ComputeFrameMaps() {
  ComputeMotionMaps();
  recog.rv = recog.DiffPixelCount;
  PreGetGC(2);
  PreGetGC(4);
  PreGetGC(1);
  ComputeStatusValues();
}

}  // namespace orv
