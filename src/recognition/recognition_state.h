// Gesture recognition engine state. The main loop only uses the frame buffers and
// the result block.
#pragma once
#include <array>
#include <complex>
#include <cstdint>
#include "common/limits.h"

namespace orv {

// What one view point gave for one frame of a motion sequence.
struct ViewFrameEntry {
  std::array<int, kGestures> gesture;        // gesture compared, -1 = not (or inactive view)
  std::array<double, kGestures> similarity;  // 0..1
  std::array<int, kGestures> sample;         // 1-based best sample, 0 = none
};

struct RankEntry {
  int gesture;
  double score;  // evidence sum (CumEvidence/FrameEvidence) or ranking score
};

// ---- motion maps, view points, discrimination (engine-B) ------------------
constexpr int kMaps = 5;          // feature maps: reference, difference, foreground, spare, edge
constexpr int kDirections = 64;   // directions of a radial signature
constexpr int kTrigCache = 3000;  // twiddle cache slots
constexpr int kViewGroups = 8;    // view points come four to a group

// A marker map and the region PreGetGC found in it.
struct FeatureMapRecord {
  int x1 = 0, x2 = 0, y1 = 0, y2 = 0;  // bounding box (columns, rows)
  int cx = 0, cy = 0;                  // centroid
  int radius = 0;                      // half-diagonal of the box
  std::array<uint8_t, kGriPixels> pixel{};  // 80x60 marker map, row-major; non-zero = marked
};

// The characteristics of the view point being matched.
struct GcRecordT {
  int x1 = 0, x2 = 0, y1 = 0, y2 = 0, cx = 0, cy = 0, radius = 0;
  int spare = 0;
  std::array<double, kDirections> Re{};  // radial signature
  std::array<double, kDirections> Ps{};  // spectrum magnitudes
};

constexpr std::array<double, kTrigCache> EmptyTrigCache() {
  std::array<double, kTrigCache> t{};
  for (double& v : t) v = -999.0;
  return t;
}
// ---------------------------------------------------------------------------

struct RecognitionState {
  // ---- driver -------------------------------------------------------------
  // 80x60 grey frames, row-major: GrayFrame[GrayFrameIndex] is the current frame, the other
  // the previous one; GrayFrameCopy is a second copy of the current frame. The frame source
  // fills both after the driver has flipped GrayFrameIndex (0 or 1).
  std::array<std::array<uint8_t, kGriPixels>, 2> GrayFrame{};
  int GrayFrameIndex = 0;
  std::array<uint8_t, kGriPixels> GrayFrameCopy{};
  int mflg = 0;                  // frame number in the current motion sequence, 0..200
  double DiffPixelCount = -1.0;  // pixels differing from the previous frame by more than
                                 // DThreshold, 0..4800; -1 = no previous frame
  int StillFrameCount = 0;       // frames in a row with at most 24 difference pixels

  // per-view scratch of the current frame, [view][gesture]
  std::array<std::array<int, kGestures>, kViews> ViewGesture{};   // gesture compared, -1 = not
  std::array<std::array<int, kGestures>, kViews> ViewBestSample{};  // 1-based best sample, 0 = none
  std::array<std::array<double, kGestures>, kViews> ViewSimilarity{};  // best match, 0..1

  // [view][frame of the sequence - 1], 820 KB
  std::array<std::array<ViewFrameEntry, kSeqFrames>, kViews> FrameRecord{};

  // judgement state cleared by ResetRecognition
  double PhaseLow = 201.0;   // lowest smoothed phase of the sequence; 201 = none yet
  double PhaseHigh = -1.0;   // highest smoothed phase of the sequence; -1 = none yet
  // JudgeCounter of the candidate when PhaseLow / PhaseHigh were last set
  double PhaseLowStamp = 0.0, PhaseHighStamp = 0.0;
  int SequenceRejected = 0;  // 1 = dropped by the hysteresis, until a frame yields a candidate
  // hysteresis: frames in a row with / without enough current evidence, 0..JudgeRepeat
  int RejectRun = 0, AcceptRun = 0;
  std::array<int, kGestures> JudgeCounter{};  // judgements per gesture in this sequence
  // evidence summed over the sequence / over the current frame, entry k is gesture k
  std::array<RankEntry, kGestures> CumEvidence{}, FrameEvidence{};
  // the same evidence times GestureWeight, sorted by score, highest first (ties: lower gesture first)
  std::array<RankEntry, kGestures> CumRanking{}, FrameRanking{};
  std::array<int, kGestures> RecognitionCount{};  // judgements per gesture since the last reset

  // ---- judgement: evidence and candidate ----------------------------------
  // Protocol-map weight per frame of the sequence, gesture and view: [frame][gesture][view].
  // Only the channel equal to the gesture ever holds evidence, so the other channels (always 0)
  // are not stored. The phase estimate normalises a frame's entries in place (largest = 1).
  std::array<std::array<std::array<double, kViews>, kGestures>, kSeqFrames> EvidenceHistory{};
  double RankAgreement = 1.0;  // agreement of the cumulative and current rankings, -1..1; 1 = undefined
  int CandidateGesture = -1;   // gesture chosen by the last judgement, 0..7; -1 = none
  // phase state, restarted by ResetRecognition, the drops and a candidate change
  // Raw phase per frame and gesture (learned frames, 1..200); 0 = not estimated yet.
  std::array<std::array<double, kGestures>, kSeqFrames> PhaseTrack{};
  std::array<double, kSeqFrames> FramePhase{};     // raw phases of the current call; < 1 = none
  std::array<double, kSeqFrames> SmoothedPhase{};  // published phase per frame, 1..length; 0 = none
  std::array<double, 5> PhaseRing5{};  // last raw phases (after the jump limit); 0 = empty slot
  std::array<double, 3> PhaseRing3{};  // last means of PhaseRing5; 0 = empty slot
  int PhaseRing5Index = 0;             // next slot of PhaseRing5, 0..4
  int PhaseRing3Index = 0;             // next slot of PhaseRing3, 0..2
  int PhaseDirection = 1;              // +1 / -1: direction of the last clear phase progression
  std::array<double, kViews> ViewWeight{};  // normalised evidence of the latest estimate, 0..1
  int PreviousCandidate = -1;  // candidate of the previous call (survives ResetRecognition); -1 = none

  // result block
  char JudgedName[144] = {};  // byte 0 stays 0; the name (at most 19 characters) starts at byte 1
  int JudgedGesture = -2;
  int PHASE = -4, ACCEL = -4, WIDTH = -4, SPEED = -4, JudgedLength = -4, INP_FNUM = -4;
  int JudgedSpare = 0;  // the int stored after INP_FNUM; nothing reads it
  double rv = 0.0, rt = 0.0;
  // weighted spread of the best sample numbers over the active views in the current frame
  // (squared learned frames); compared with OK_VAR
  double SampleSpread = 0.0;

  // ---- motion maps, view points, discrimination (engine-B) ----------------
  // [0] reference (never filled), [1] difference, [2] foreground, [3] spare, [4] edge
  std::array<FeatureMapRecord, kMaps> FeatureMap{};
  double ForegroundPixelCount = 0.0;  // foreground pixels of the current frame, 0..4800
  // direction tables, scaled by SKIP; rows grow downwards, so a step subtracts StepY
  std::array<double, kDirections> StepX{}, StepY{};
  // twiddle cache for the whole run; -999.0 marks an empty slot
  std::array<double, kTrigCache> CosCache = EmptyTrigCache();
  std::array<double, kTrigCache> SinCache = EmptyTrigCache();
  double CacheScale = 477.30567442220206;  // 2999 / (2 pi)
  int WholeImageRadius = 50;               // half the diagonal of the 80x60 image
  GcRecordT GcRecord{};                    // characteristics of the current view
  GcRecordT GcSaved{};                     // shared by the four views of a group
  std::array<uint8_t, kGriPixels> WorkMap{};  // copy of the map the current view looks at
  std::array<int, kViewGroups> GroupCopied{};  // per group: WorkMap already copied this frame
  std::array<std::complex<double>, kDirections> Signature{};  // radial signature, transformed in place
  int LastView = -99;  // view of the previous call; -99 at the start of every frame
  int GcValid = 0;       // GcSaved belongs to LastView's group
  int GcNormalised = 0;  // GcSaved already holds the normalised form
  std::array<double, kGestures> MaxDistance{}, MinDistance{};
  double OverallMaxDistance = 0.0;
};
extern RecognitionState recog;

}  // namespace orv
