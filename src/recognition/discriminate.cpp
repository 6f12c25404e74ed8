// One view point of one frame against the knowledge base: stored as a sample while a
// gesture is learned, otherwise matched against every stored sample of every gesture.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/control_state.h"
#include "common/learning_state.h"
#include "common/platform.h"
#include "common/recognition_state.h"
#include "recognition/recognition.h"

namespace orv {

namespace {

constexpr double kCorruptSum = 1e10;
constexpr double kNoMax = -999999999.0;
constexpr double kNoMin = 999999999.0;

// Every r-th sample is compared; a step below one would never advance.
int SampleStride() {
  const double r = learn.RSKIP;
  if (!(r >= 1.0)) return 1;
  if (r > kSeqFrames) return kSeqFrames;
  return static_cast<int>(r);
}

bool ViewHasPatterns(int view) {
  for (const auto& g : PatternPresent[view])
    for (int present : g)
      if (present) return true;
  return false;
}

// A running distance sum went past any value real data can give: tell the operator which
// record is bad and, on a terminal, wait for a key so the message is seen. Once per sum:
// the sum only grows, so every later addition would repeat the same report.
void ReportCorrupt(int gesture, int view, int sample, const double* cur, const double* kb) {
  double sum = 0.0;
  int i = 0;
  for (; i < kDirections; ++i) {
    sum += std::fabs(cur[i] - kb[i]);
    if (sum > kCorruptSum) break;
  }
  if (i == kDirections) return;
  if (control.CamBeep) Bell();
  const char* half = (view & 1) ? "Ps" : "Re";
  std::printf("Illegal Data Found (GESTURE:%d MODE:%d SAMPLE:%d) in %s ... %s= %lf   KB= %lf \n",
              gesture, view, sample, half, half, cur[i], kb[i]);
  std::fflush(stdout);
  if (isatty(STDIN_FILENO)) std::getchar();
}

// L1 distances of n stored halves (record k at base + k*stride) to cur, each summed in
// index order. Four sums run side by side so the additions overlap; the records two
// blocks ahead are prefetched because each record is too short a run for the hardware
// prefetcher to pick up four interleaved streams.
void Distances(const double* cur, const double* base, long stride, int n, double* out) {
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    const double* p0 = base + k * stride;
    const double* p1 = p0 + stride;
    const double* p2 = p1 + stride;
    const double* p3 = p2 + stride;
    const double* q[4];
    for (int j = 0; j < 4; ++j) q[j] = (k + 8 + j < n) ? base + (k + 8 + j) * stride : p0;
    double d0 = 0.0, d1 = 0.0, d2 = 0.0, d3 = 0.0;
    for (int line = 0; line < kDirections; line += 8) {
      __builtin_prefetch(q[0] + line, 0, 3);
      __builtin_prefetch(q[1] + line, 0, 3);
      __builtin_prefetch(q[2] + line, 0, 3);
      __builtin_prefetch(q[3] + line, 0, 3);
      for (int i = line; i < line + 8; ++i) {
        const double x = cur[i];
        d0 += std::fabs(x - p0[i]);
        d1 += std::fabs(x - p1[i]);
        d2 += std::fabs(x - p2[i]);
        d3 += std::fabs(x - p3[i]);
      }
    }
    out[k] = d0;
    out[k + 1] = d1;
    out[k + 2] = d2;
    out[k + 3] = d3;
  }
  for (; k < n; ++k) {
    const double* p = base + k * stride;
    double d = 0.0;
    for (int i = 0; i < kDirections; ++i) d += std::fabs(cur[i] - p[i]);
    out[k] = d;
  }
}

// Divides Re and Ps by their largest values; false when either largest value is not
// positive.
bool Normalise(GcRecordT& gc) {
  double maxRe = -1e11, maxPs = -1e11;
  for (int i = 0; i < kDirections; ++i) {
    if (gc.Re[i] > maxRe) maxRe = gc.Re[i];
    if (gc.Ps[i] > maxPs) maxPs = gc.Ps[i];
  }
  if (maxRe <= 0 || maxPs <= 0) return false;
  for (int i = 0; i < kDirections; ++i) {
    gc.Re[i] /= maxRe;
    gc.Ps[i] /= maxPs;
  }
  return true;
}

int Learn(int a, double similarity[8], int bestSample[8], int gestureOut[8], int view) {
  gestureOut[a] = a;
  similarity[a] = 1.0;
  const int s = bestSample[0] - 1;
  if (s < 0 || s >= kSeqFrames) return -999;
  if (!PatternPresent[view][a][s]) {
    if (!EnsurePatternStore()) {
      std::fprintf(stderr,
                   "No memory for a pattern record (MODE:%d GESTURE:%d SAMPLE:%d); the sample "
                   "is not stored.\n",
                   view, a, s);
      return -999;
    }
    PatternPresent[view][a][s] = 1;
  }
  int& high = learn.SampleHigh[view][a];
  if (high < bestSample[0]) high = bestSample[0];
  Patterns->Re[view][a][s] = recog.GcRecord.Re;
  Patterns->Ps[view][a][s] = recog.GcRecord.Ps;
  return 0;
}

}  // namespace

int Discriminate(int learnGesture, double similarity[8], int bestSample[8], int gestureOut[8],
                 int view) {
  if (view < 0 || view >= kViews || learnGesture >= kGestures) return -999;
  if (learnGesture < 0 && (!Patterns || !ViewHasPatterns(view))) return -999;

  GcRecordT& gc = recog.GcRecord;
  if (view / 4 == static_cast<int>(recog.LastView * 0.25) && recog.GcValid) {
    gc = recog.GcSaved;
  } else {
    recog.GcNormalised = 0;
    recog.GcValid = 0;
    gc = GcRecordT{};
    GetGC(view);
    if (RadialSignature() == -1) return -999;
    recog.GcSaved = gc;
    recog.GcValid = 1;
  }
  if (!recog.GcNormalised && (view % 4 == 2 || view % 4 == 3)) {
    if (!Normalise(gc)) return -999;
    recog.GcNormalised = 1;
    recog.GcSaved = gc;
  }
  recog.LastView = view;

  if (learnGesture >= 0) return Learn(learnGesture, similarity, bestSample, gestureOut, view);

  const bool odd = view & 1;
  const double* cur = odd ? gc.Ps.data() : gc.Re.data();
  const int stride = SampleStride();
  double dist[kSeqFrames];
  recog.OverallMaxDistance = kNoMax;
  for (int g = 0; g < kGestures; ++g) {
    double& maxD = recog.MaxDistance[g];
    double& minD = recog.MinDistance[g];
    maxD = kNoMax;
    minD = kNoMin;
    const int high = std::min(learn.SampleHigh[view][g], kSeqFrames);
    if (high > 0) {
      // The scan ends at the first missing sample.
      const auto& present = PatternPresent[view][g];
      int n = 0;
      while (n * stride < high && present[n * stride]) ++n;
      const double* base = odd ? Patterns->Ps[view][g][0].data() : Patterns->Re[view][g][0].data();
      const long recordStride = static_cast<long>(stride) * kDirections;
      Distances(cur, base, recordStride, n, dist);
      for (int k = 0; k < n; ++k) {
        const double d = dist[k];
        if (d > kCorruptSum) ReportCorrupt(g, view, k * stride, cur, base + k * recordStride);
        if (d > maxD) maxD = d;
        if (d < minD) {
          minD = d;
          gestureOut[g] = g;
          bestSample[g] = k * stride + 1;
        }
      }
      if (maxD < 0) {
        std::printf("Discriminate() -> Skipped..%lf  mode=%d, REVIEW_MODE=%d\n", maxD, view,
                    learn.REVIEW_MODE);
        return -999;
      }
    }
    if (maxD <= 0) bestSample[g] = 0;
    if (maxD > recog.OverallMaxDistance) recog.OverallMaxDistance = maxD;
  }

  for (int g = 0; g < kGestures; ++g) {
    similarity[g] = 0.0;
    if (recog.MaxDistance[g] >= 0 && recog.OverallMaxDistance > 0) {
      const double v = 1.0 - recog.MinDistance[g] / recog.OverallMaxDistance;
      if (v >= 0 && v <= 1) similarity[g] = v;
    }
  }
  return 0;
}

}  // namespace orv
