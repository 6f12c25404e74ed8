// Gesture characteristics of one view point: the map and region it looks at, the radial
// signature of the region and the spectrum of that signature.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "kb/learning_state.h"
#include "common/platform.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "recognition/recognition.h"
#include "kb/kb.h"

namespace orv {

namespace {

constexpr double kDirectionAngle = 0.09817477040624999;  // direction tables
// One step of the transform's twiddle angle: 3.141592653 / 32, a hair below pi / 32. Stored
// spectra (Ps of every pattern record) and other copies of the engine rely on this very unit,
// so it is kept rather than replaced by the exact angle.
constexpr double kTwiddleAngle = 0.09817477040625;

constexpr int BitReverse(int v, int bits) {
  int r = 0;
  for (int b = 0; b < bits; ++b) r |= ((v >> b) & 1) << (bits - 1 - b);
  return r;
}

// cos and sin of a twiddle angle, each computed once per cache slot for the whole run.
void Twiddle(double a, double& c, double& s) {
  const double scaled = a * recog.CacheScale;
  if (!(scaled >= 0.0) || scaled >= kTrigCache) {
    std::fprintf(stderr, "Twiddle angle %f out of the cache range.\n", a);
    EndProcess(1);
  }
  const int key = static_cast<int>(scaled);
  if (recog.CosCache[key] == kEmptyTrigSlot) recog.CosCache[key] = std::cos(a);
  if (recog.SinCache[key] == kEmptyTrigSlot) recog.SinCache[key] = std::sin(a);
  c = recog.CosCache[key];
  s = recog.SinCache[key];
}

}  // namespace

void FillDirectionTables() {
  for (int i = 0; i < kDirections; ++i) {
    const double a = i * kDirectionAngle;
    recog.StepY[i] = std::sin(a) * learn.SKIP;
    recog.StepX[i] = std::cos(a) * learn.SKIP;
  }
}

void ResetEngineCaches() {
  recog.CosCache.fill(kEmptyTrigSlot);
  recog.SinCache.fill(kEmptyTrigSlot);
  recog.CacheScale = 477.30567442220206;
  recog.WholeImageRadius = static_cast<int>(std::sqrt(10000.0) * 0.5);
}

void GetGC(int view) {
  if (view < 0 || view >= kViews) {
    std::printf("Illegal view point number in GetGC()..\n");
    ReleaseKnowledgeBase();
    EndProcess(0);
  }
  const int group = view / 4;
  const ViewGroup& vg = ViewGroups[group];
  if (!recog.GroupCopied[group]) {
    recog.WorkMap = recog.FeatureMap[vg.map].pixel;
    recog.GroupCopied[group] = 1;
  }
  GcRecordT& gc = recog.GcRecord;
  if (vg.region < 0) {
    gc.x1 = 0;
    gc.x2 = kGriW - 1;
    gc.y1 = 0;
    gc.y2 = kGriH - 1;
    gc.cx = kGriW / 2;
    gc.cy = kGriH / 2;
    gc.radius = recog.WholeImageRadius;
  } else {
    const FeatureMapRecord& r = recog.FeatureMap[vg.region];
    gc.x1 = r.x1;
    gc.x2 = r.x2;
    gc.y1 = r.y1;
    gc.y2 = r.y2;
    gc.cx = r.cx;
    gc.cy = r.cy;
    gc.radius = r.radius;
  }
}

int RadialSignature() {
  GcRecordT& gc = recog.GcRecord;
  const int R = gc.radius;
  // A step below one pixel would never end the walk; one beyond int range is no step.
  if (!(learn.SKIP >= 1.0) || learn.SKIP > 1e6) return -1;
  const int S = static_cast<int>(learn.SKIP);
  if (gc.x1 < 0 || gc.x1 >= kGriW || gc.x2 < 0 || gc.x2 >= kGriW || gc.y1 < 0 ||
      gc.y1 >= kGriH || gc.y2 < 0 || gc.y2 >= kGriH)
    return -1;
  if (gc.x1 == 0 && gc.x2 == 0 && gc.y1 == 0 && gc.y2 == 0) return -1;
  if (R <= S) return -1;

  gc.Re.fill(0.0);
  recog.Signature.fill({0.0, 0.0});
  const double delta = 999.0 / R;
  const double step = delta * learn.SKIP;
  const uint8_t* map = recog.WorkMap.data();
  const double* weight = engine.RadialWeight.data();
  bool hit = false;

  for (int i = 0; i < kDirections; ++i) {
    double x = gc.cx, y = gc.cy, t = 0.0, sum = 0.0;
    int count = 0;
    const double sx = recog.StepX[i], sy = recog.StepY[i];
    for (int walked = 0; walked < R; walked += S) {
      y -= sy;
      x += sx;
      // trunc, as the walk always did: a point just left of column 0 still reads column 0
      if (!(x > -1.0 && x < kGriW && y > -1.0 && y < kGriH)) break;
      const int col = static_cast<int>(x), row = static_cast<int>(y);
      if (col < gc.x1 || col > gc.x2 || row < gc.y1 || row > gc.y2) break;
      if (map[row * kGriW + col]) {
        double u = 0.0;
        for (int j = 1; j <= S; ++j) {
          const int b = static_cast<int>(u + t);
          if (b < 999) {
            sum += b / 999.0 + weight[b];
            ++count;
          }
          u += delta;
        }
      }
      t += step;
    }
    if (count > 0) {
      gc.Re[i] = (static_cast<double>(R) / count) * sum;
      recog.Signature[i] = {gc.Re[i], 0.0};
      hit = true;
    }
  }
  TransformSignature();
  return hit ? 0 : -1;
}

void TransformSignature() {
  auto& a = recog.Signature;
  // Six radix-2 stages from natural order to bit-reversed order; the twiddle of a block
  // is indexed by the block's bit-reversed number.
  for (int len = kDirections / 2, blocks = 1; len >= 1; len /= 2, blocks *= 2) {
    for (int j = 0; j < blocks; ++j) {
      double c, s;
      Twiddle(BitReverse(j, 5) * kTwiddleAngle, c, s);
      const std::complex<double> w(c, -s);
      const int start = 2 * j * len;
      for (int k = start; k < start + len; ++k) {
        const std::complex<double> u = a[k];
        const std::complex<double> v = a[k + len] * w;
        a[k] = u + v;
        a[k + len] = u - v;
      }
    }
  }
  for (int k = 0; k < kDirections; ++k) {
    const int r = BitReverse(k, 6);
    if (r > k) std::swap(a[k], a[r]);
  }
  for (int k = 0; k < kDirections; ++k) {
    const double re = a[k].real(), im = a[k].imag();
    recog.GcRecord.Ps[k] = std::sqrt(re * re + im * im);
  }
}

}  // namespace orv
