// One view point of one frame against the knowledge base: stored as a sample while a
// gesture is learned, otherwise matched against every stored sample of every gesture.
#include <unistd.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "kb/learning_state.h"
#include "common/platform.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "recognition/recognition.h"

namespace orv {

namespace {

constexpr double kCorruptSum = 1e10;
constexpr double kNoMax = -999999999.0;  // farthest distance before any comparison
constexpr double kNoMin = 999999999.0;   // nearest distance before any comparison

bool ViewHasPatterns(int view) {
  for (const auto& g : PatternPresent[view])
    for (int present : g)
      if (present) return true;
  return false;
}

// --- corrupt records ---

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
  if (learn.CamBeep) Bell();
  const char* half = (view & 1) ? "Ps" : "Re";
  std::printf("Illegal Data Found (GESTURE:%d MODE:%d SAMPLE:%d) in %s ... %s= %lf   KB= %lf \n",
              gesture, view, sample, half, half, cur[i], kb[i]);
  std::fflush(stdout);
  if (isatty(STDIN_FILENO)) std::getchar();
}

// --- distance kernels ---

constexpr int kPrefetchAhead = 16;  // records

// L1 distances of the listed stored halves to cur, each summed in index order. Four sums
// run side by side so the additions overlap. Four interleaved 512-byte runs are too short
// for the hardware prefetcher, so the records kPrefetchAhead places further down the list
// (across gestures) are fetched one cache line every other index.
}  // namespace

void PortableDistances(const double* cur, const double* const* recs, int n, double* out) {
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    const double* p0 = recs[k];
    const double* p1 = recs[k + 1];
    const double* p2 = recs[k + 2];
    const double* p3 = recs[k + 3];
    const double* q[4];
    for (int j = 0; j < 4; ++j) q[j] = recs[std::min(k + kPrefetchAhead + j, n - 1)];
    double d0 = 0.0, d1 = 0.0, d2 = 0.0, d3 = 0.0;
    for (int i = 0; i < kDirections; ++i) {
      if ((i & 1) == 0) __builtin_prefetch(q[i >> 4] + ((i >> 1) & 7) * 8, 0, 3);
      const double x = cur[i];
      d0 += std::fabs(x - p0[i]);
      d1 += std::fabs(x - p1[i]);
      d2 += std::fabs(x - p2[i]);
      d3 += std::fabs(x - p3[i]);
    }
    out[k] = d0;
    out[k + 1] = d1;
    out[k + 2] = d2;
    out[k + 3] = d3;
  }
  for (; k < n; ++k) {
    const double* p = recs[k];
    double d = 0.0;
    for (int i = 0; i < kDirections; ++i) d += std::fabs(cur[i] - p[i]);
    out[k] = d;
  }
}

namespace {

#if defined(__x86_64__)
// The same sums with AVX2, four records per vector: a 4x4 block of differences is
// transposed so that each lane still adds its record's values in index order.
__attribute__((target("avx2"))) void DistancesAvx2(const double* cur, const double* const* recs,
                                                  int n, double* out) {
  const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    const double* p0 = recs[k];
    const double* p1 = recs[k + 1];
    const double* p2 = recs[k + 2];
    const double* p3 = recs[k + 3];
    const double* q[4];
    for (int j = 0; j < 4; ++j) q[j] = recs[std::min(k + kPrefetchAhead + j, n - 1)];
    __m256d acc = _mm256_setzero_pd();
    for (int i = 0; i < kDirections; i += 4) {
      _mm_prefetch(reinterpret_cast<const char*>(q[i >> 4] + ((i >> 1) & 7) * 8), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(q[i >> 4] + (((i >> 1) + 1) & 7) * 8), _MM_HINT_T0);
      const __m256d x = _mm256_loadu_pd(cur + i);
      const __m256d d0 = _mm256_and_pd(_mm256_sub_pd(x, _mm256_loadu_pd(p0 + i)), absMask);
      const __m256d d1 = _mm256_and_pd(_mm256_sub_pd(x, _mm256_loadu_pd(p1 + i)), absMask);
      const __m256d d2 = _mm256_and_pd(_mm256_sub_pd(x, _mm256_loadu_pd(p2 + i)), absMask);
      const __m256d d3 = _mm256_and_pd(_mm256_sub_pd(x, _mm256_loadu_pd(p3 + i)), absMask);
      const __m256d t0 = _mm256_unpacklo_pd(d0, d1);  // d0[0] d1[0] d0[2] d1[2]
      const __m256d t1 = _mm256_unpackhi_pd(d0, d1);  // d0[1] d1[1] d0[3] d1[3]
      const __m256d t2 = _mm256_unpacklo_pd(d2, d3);
      const __m256d t3 = _mm256_unpackhi_pd(d2, d3);
      acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(t0, t2, 0x20));  // index i
      acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(t1, t3, 0x20));  // i + 1
      acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(t0, t2, 0x31));  // i + 2
      acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(t1, t3, 0x31));  // i + 3
    }
    _mm256_storeu_pd(out + k, acc);
  }
  for (; k < n; ++k) {
    const double* p = recs[k];
    double d = 0.0;
    for (int i = 0; i < kDirections; ++i) d += std::fabs(cur[i] - p[i]);
    out[k] = d;
  }
}
#endif

DistanceFn ChooseDistances() {
#if defined(__x86_64__)
  __builtin_cpu_init();  // this runs among the static constructors
  if (__builtin_cpu_supports("avx2")) return DistancesAvx2;
#endif
  return PortableDistances;
}

}  // namespace

DistanceFn DistanceKernel = ChooseDistances();

// A step below one would never advance.
int ComparedSampleStride() {
  const double r = learn.RSKIP;
  if (!(r >= 1.0)) return 1;
  if (r > kSeqFrames) return kSeqFrames;
  return static_cast<int>(r);
}

// --- the nearest-sample scan ---

void FindNearestSamples(const double* cur, int view, int leaveOutGesture, int leaveOut, NearestSamples& out) {
  const bool odd = view & 1;
  const int stride = ComparedSampleStride();
  // The records to compare, gesture after gesture; one pass computes all distances.
  int n = 0;
  for (int g = 0; g < kGestures; ++g) {
    out.first[g] = n;
    const int high = std::min(learn.SampleHigh[view][g], kSeqFrames);
    const auto& present = PatternPresent[view][g];
    const auto& half = odd ? Patterns->Ps[view][g] : Patterns->Re[view][g];
    // The scan ends at the first missing sample.
    for (int s = 0; s < high && present[s]; s += stride) {
      if (g == leaveOutGesture && s == leaveOut) continue;
      out.record[n] = half[s].data();
      out.number[n++] = s + 1;
    }
  }
  out.first[kGestures] = n;
  DistanceKernel(cur, out.record.data(), n, out.distance.data());

  out.overallMax = kNoMax;
  for (int g = 0; g < kGestures; ++g) {
    double& maxD = out.maxDistance[g];
    double& minD = out.minDistance[g];
    maxD = kNoMax;
    minD = kNoMin;
    out.sample[g] = 0;
    out.found[g] = false;
    for (int k = out.first[g]; k < out.first[g + 1]; ++k) {
      const double d = out.distance[k];
      if (d > maxD) maxD = d;
      if (d < minD) {  // ties keep the earlier sample
        minD = d;
        out.found[g] = true;
        out.sample[g] = out.number[k];
      }
    }
    if (maxD <= 0) out.sample[g] = 0;
    if (maxD > out.overallMax) out.overallMax = maxD;
  }
  for (int g = 0; g < kGestures; ++g) {
    out.similarity[g] = 0.0;
    if (out.maxDistance[g] >= 0 && out.overallMax > 0) {
      const double v = 1.0 - out.minDistance[g] / out.overallMax;
      if (v >= 0 && v <= 1) out.similarity[g] = v;
    }
  }
}

// --- storing and matching one view point ---

namespace {

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
  if (s < 0 || s >= kSeqFrames) return kCannotUse;
  if (!PatternPresent[view][a][s]) {
    if (!EnsurePatternStore()) {
      std::fprintf(stderr,
                   "No memory for a pattern record (MODE:%d GESTURE:%d SAMPLE:%d); the sample "
                   "is not stored.\n",
                   view, a, s);
      return kCannotUse;
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
  if (view < 0 || view >= kViews || learnGesture >= kGestures) return kCannotUse;
  if (learnGesture < 0 && (!Patterns || !ViewHasPatterns(view))) return kCannotUse;

  GcRecordT& gc = recog.GcRecord;
  if (view / 4 == static_cast<int>(recog.LastView * 0.25) && recog.GcValid) {
    gc = recog.GcSaved;
  } else {
    recog.GcNormalised = 0;
    recog.GcValid = 0;
    gc = GcRecordT{};
    GetGC(view);
    if (RadialSignature() == -1) return kCannotUse;
    recog.GcSaved = gc;
    recog.GcValid = 1;
  }
  if (!recog.GcNormalised && (view % 4 == 2 || view % 4 == 3)) {
    if (!Normalise(gc)) return kCannotUse;
    recog.GcNormalised = 1;
    recog.GcSaved = gc;
  }
  recog.LastView = view;

  if (learnGesture >= 0) return Learn(learnGesture, similarity, bestSample, gestureOut, view);

  const double* cur = (view & 1) ? gc.Ps.data() : gc.Re.data();
  NearestSamples near;
  FindNearestSamples(cur, view, -1, -1, near);
  // Gesture by gesture, as the records were scanned: a gesture whose first sample is missing
  // ends the view, its reports and those of the gestures before it given, the later ones not.
  recog.OverallMaxDistance = kNoMax;
  for (int g = 0; g < kGestures; ++g) {
    recog.MaxDistance[g] = near.maxDistance[g];
    recog.MinDistance[g] = near.minDistance[g];
    if (learn.SampleHigh[view][g] > 0) {
      for (int k = near.first[g]; k < near.first[g + 1]; ++k)
        if (near.distance[k] > kCorruptSum) ReportCorrupt(g, view, near.number[k] - 1, cur, near.record[k]);
      if (near.maxDistance[g] < 0) {
        std::printf("Discriminate() -> Skipped..%lf  mode=%d, REVIEW_MODE=%d\n", near.maxDistance[g], view,
                    engine.REVIEW_MODE);
        return kCannotUse;
      }
    }
    if (near.found[g]) gestureOut[g] = g;
    bestSample[g] = near.sample[g];
    if (near.maxDistance[g] > recog.OverallMaxDistance) recog.OverallMaxDistance = near.maxDistance[g];
  }
  for (int g = 0; g < kGestures; ++g) similarity[g] = near.similarity[g];
  return 0;
}

}  // namespace orv
