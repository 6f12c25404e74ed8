// The gesture recognizer's parts: frame source, motion maps, view points, discrimination and
// judgement (the per-frame driver is internal, in driver.h).
#pragma once
#include <array>
#include <cstdint>

#include "common/limits.h"

namespace orv {

void ResetRecognition();
// Clears the judged name and the result fields; rv and rt keep their values.
void ResetResultBlock();
// Judgement of the current frame (final = 1 at the end of a sequence): 0, or kNoResult when
// no judgement could be made and the frame is not to count.
int JudgeMap(int learnGesture, int final);
// Restarts the smoothed phase: SmoothedPhase, both smoothing rings and their indices.
// Part of every reset of the sequence state.
void ClearPhaseSmoothing();
// Judge counters, the four rankings and the recorded views of the sequence, all back to empty.
void ClearSequenceEvidence();

// Frame source: puts the next 80x60 frame into GrayFrame[GrayFrameIndex] (live: every fourth
// pixel of every fourth row of gray, the camera's 320x240 grey frame; or a recorded frame
// during review, whose end turns the review statistics into limits) and records pass frames
// while learning.
void FeedFrame(const std::array<uint8_t, kCamPixels>& gray);

// ---- motion maps, view points, discrimination (engine-B) ------------------
void FillDirectionTables();  // StepX/StepY from SKIP
// Main-loop set-up: empty twiddle cache, CacheScale, WholeImageRadius.
void ResetEngineCaches();

// Maps 1, 2, 4 and DiffPixelCount/ForegroundPixelCount from the current and previous frame.
void ComputeMotionMaps();
// Region of map k (bounding box, centroid, half-diagonal). 0 when the radius exceeds
// trunc(SKIP), else kCannotUse.
int PreGetGC(int k);
// rv and rt from the counts and the regions of maps 1 and 2 (after the PreGetGC calls).
void ComputeStatusValues();
// One frame's maps, the three regions and rv/rt, in the order the driver needs them.
void ComputeFrameMaps();
// Start of every frame of a motion sequence: spare map cleared, WorkMap copies and the
// shared characteristics invalidated.
void BeginFrameViews();

// Which map and which region a view-point group looks at; region -1 = the whole image.
struct ViewGroup {
  int map;
  int region;
};
inline constexpr std::array<ViewGroup, 8> ViewGroups{{
    {1, 1},   // 0-3: difference map in its own region
    {1, 2},   // 4-7: difference map in the foreground region
    {2, 2},   // 8-11: foreground map in its own region
    {2, -1},  // 12-15: foreground map, whole image
    {1, -1},  // 16-19: difference map, whole image
    {4, 4},   // 20-23: edge map in its own region
    {4, 1},   // 24-27: edge map in the difference region
    {2, 1},   // 28-31: foreground map in the difference region
}};

// WorkMap and the region fields of GcRecord for a view point.
void GetGC(int view);
// Re and Ps of GcRecord over WorkMap. 0 when some direction met a marked pixel, else -1.
int RadialSignature();
// 64-point forward DFT of Signature in place (natural order out), Ps = magnitudes.
void TransformSignature();

// One view point of one frame against the knowledge base (learnGesture >= 0: store the
// characteristics as sample mflg-1 of that gesture). 0, or kCannotUse when the view cannot be used.
int Discriminate(int learnGesture, double similarity[8], int bestSample[8], int gestureOut[8],
                 int view);
// L1 distances of n stored halves (64 doubles each) to cur, every sum in index order. The
// kernel in use is picked for the CPU; all kernels give the same bits.
using DistanceFn = void (*)(const double* cur, const double* const* recs, int n, double* out);
extern DistanceFn DistanceKernel;
// Every r-th stored sample is compared (r from RSKIP, 1..200).
int ComparedSampleStride();

// The stored samples of every gesture nearest to `cur`, one half of a view's characteristics
// (Re for an even view, Ps for an odd one): the one scan that discrimination and the verdict
// on a taught motion share.
struct NearestSamples {
  // The compared records, gesture after gesture: gesture g's are first[g]..first[g + 1] - 1.
  std::array<const double*, kGestures * kSeqFrames> record;  // the stored half compared
  std::array<int, kGestures * kSeqFrames> number;            // its sample number, 1..200
  std::array<double, kGestures * kSeqFrames> distance;       // its L1 distance to cur, >= 0
  std::array<int, kGestures + 1> first;
  // Per gesture: the nearest and farthest distance (999999999 / -999999999 when nothing was
  // compared or every distance was NaN), the nearest sample (1-based; 0 = none, and also
  // when every distance is 0), and whether a nearest sample was found at all.
  std::array<double, kGestures> minDistance, maxDistance;
  std::array<int, kGestures> sample;
  std::array<bool, kGestures> found;
  double overallMax;  // largest maxDistance over the gestures
  // 1 - minDistance / overallMax, 0..1; 0 when the gesture or the view has nothing to compare.
  std::array<double, kGestures> similarity;
};
// Compares every r-th stored sample up to SampleHigh (the scan of a gesture ends at its first
// missing sample); sample leaveOut (0-based) of gesture leaveOutGesture is not compared (-1:
// none): the verdict replays a stored frame against all the others.
void FindNearestSamples(const double* cur, int view, int leaveOutGesture, int leaveOut, NearestSamples& out);
void PortableDistances(const double* cur, const double* const* recs, int n, double* out);

}  // namespace orv
