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
  int gesture;   // 0..7
  double score;  // evidence sum (CumEvidence/FrameEvidence) or ranking score
};

// ---- motion maps, view points, discrimination (engine-B) ------------------
constexpr int kMaps = 5;          // feature maps: reference, difference, foreground, spare, edge
constexpr int kDirections = 64;   // directions of a radial signature
constexpr int kTrigCache = 3000;  // twiddle cache slots
constexpr int kViewGroups = 8;    // view points come four to a group
constexpr double kEmptyTrigSlot = -999.0;  // a twiddle cache slot not computed yet

// A marker map and the region PreGetGC found in it.
struct FeatureMapRecord {
  int x1 = 0, x2 = 0, y1 = 0, y2 = 0;  // bounding box (columns, rows)
  int cx = 0, cy = 0;                  // centroid
  int radius = 0;                      // half-diagonal of the box
  std::array<uint8_t, kGriPixels> pixel{};  // 80x60 marker map, row-major; non-zero = marked
};

// The characteristics of the view point being matched.
struct GcRecordT {
  int x1 = 0, x2 = 0, y1 = 0, y2 = 0, cx = 0, cy = 0, radius = 0;  // region of the view, as in FeatureMapRecord
  int spare = 0;                         // never read; keeps the record's layout
  std::array<double, kDirections> Re{};  // radial signature
  std::array<double, kDirections> Ps{};  // spectrum magnitudes
};

constexpr std::array<double, kTrigCache> EmptyTrigCache() {
  std::array<double, kTrigCache> t{};
  for (double& v : t) v = kEmptyTrigSlot;
  return t;
}
// ---------------------------------------------------------------------------

// Every field: meaning, unit or range, and who reads it beyond the recognizer itself. The
// recognizer's files: driver (driver.cpp), frame source, maps, features, discrimination, judgement.
struct RecognitionState {
  // ---- driver -------------------------------------------------------------
  // The frame source fills GrayFrame[GrayFrameIndex] and GrayFrameCopy after the driver has
  // flipped GrayFrameIndex.
  std::array<std::array<uint8_t, kGriPixels>, 2> GrayFrame{};  // 80x60 grey frames, row-major, current and
                                                               // previous; maps, main loop, player (clears)
  int GrayFrameIndex = 0;                   // which GrayFrame is the current one, 0 or 1; maps, main loop, teaching
  std::array<uint8_t, kGriPixels> GrayFrameCopy{};  // second copy of the current frame; player's motion measure
  int mflg = 0;                  // frame number in the current motion sequence, 0..200; judgement, learning passes, app
  double DiffPixelCount = -1.0;  // pixels differing from the previous frame by more than
                                 // DThreshold, 0..4800; -1 = no previous frame; templates, teaching, replay trace
  int StillFrameCount = 0;       // frames in a row with at most 24 difference pixels; driver only

  // per-view scratch of the current frame, [view][gesture]; the driver hands them to Discriminate
  std::array<std::array<int, kGestures>, kViews> ViewGesture{};   // gesture compared, -1 = not
  std::array<std::array<int, kGestures>, kViews> ViewBestSample{};  // 1-based best sample, 0 = none
  std::array<std::array<double, kGestures>, kViews> ViewSimilarity{};  // best match, 0..1

  std::array<std::array<ViewFrameEntry, kSeqFrames>, kViews> FrameRecord{};  // [view][frame of the sequence
                                                                             // - 1], 820 KB; judgement

  // judgement state cleared by ResetRecognition
  double PhaseLow = 201.0;   // lowest smoothed phase of the sequence, 1..200; 201 = none yet
  double PhaseHigh = -1.0;   // highest smoothed phase of the sequence, 1..200; -1 = none yet
  double PhaseLowStamp = 0.0;   // JudgeCounter of the candidate when PhaseLow was last set; gives SPEED's sign
  double PhaseHighStamp = 0.0;  // the same for PhaseHigh
  int SequenceRejected = 0;  // 1 = dropped by the hysteresis, until a frame yields a candidate
  int RejectRun = 0;  // hysteresis: frames in a row without enough current evidence, 0..JudgeRepeat
  int AcceptRun = 0;  // hysteresis: frames in a row with enough current evidence, 0..JudgeRepeat
  std::array<int, kGestures> JudgeCounter{};  // judgements per gesture in this sequence; INP_FNUM
  std::array<RankEntry, kGestures> CumEvidence{};    // evidence summed over the sequence, entry k is gesture k
  std::array<RankEntry, kGestures> FrameEvidence{};  // evidence of the current frame, entry k is gesture k
  std::array<RankEntry, kGestures> CumRanking{};     // CumEvidence x GestureWeight, highest first (ties:
                                                     // lower gesture first); operator view
  std::array<RankEntry, kGestures> FrameRanking{};   // the same for FrameEvidence
  std::array<int, kGestures> RecognitionCount{};  // judgements per gesture since the last reset; templates

  // ---- judgement: evidence and candidate ----------------------------------
  // Only the channel equal to the gesture ever holds evidence, so the other channels (always 0)
  // are not stored. The phase estimate normalises a frame's entries in place (largest = 1).
  std::array<std::array<std::array<double, kViews>, kGestures>, kSeqFrames> EvidenceHistory{};  // protocol-map
                                                                 // weight, [frame][gesture][view], >= 0
  double RankAgreement = 1.0;  // agreement of the cumulative and current rankings, -1..1; 1 = undefined
  int CandidateGesture = -1;   // gesture chosen by the last judgement, 0..7; -1 = none
  // phase state, restarted by ResetRecognition, the drops and a candidate change
  std::array<std::array<double, kGestures>, kSeqFrames> PhaseTrack{};  // raw phase per frame and gesture,
                                                                      // 1..200; 0 = not estimated yet
  std::array<double, kSeqFrames> FramePhase{};     // raw phases of the current call; < 1 = none
  std::array<double, kSeqFrames> SmoothedPhase{};  // published phase per frame, 1..length; 0 = none
  std::array<double, 5> PhaseRing5{};  // last raw phases (after the jump limit); 0 = empty slot
  std::array<double, 3> PhaseRing3{};  // last means of PhaseRing5; 0 = empty slot
  int PhaseRing5Index = 0;             // next slot of PhaseRing5, 0..4
  int PhaseRing3Index = 0;             // next slot of PhaseRing3, 0..2
  int PhaseDirection = 1;              // +1 / -1: direction of the last clear phase progression
  std::array<double, kViews> ViewWeight{};  // normalised evidence of the latest estimate, 0..1
  int PreviousCandidate = -1;  // candidate of the previous call (survives ResetRecognition); -1 = none

  // result block: read by the main loop's gesture playback, the OSC sender, teaching and the replay trace
  char JudgedName[144] = {};  // byte 0 stays 0; the name (at most 19 characters) starts at byte 1
  int JudgedGesture = kNoJudgement;  // the gesture judged in this cycle, 0..7; kNoJudgement, kJudgementFailed
  int PHASE = kUnset;         // smoothed phase truncated, learned frames 1..length; -1 = sequence dropped
  int ACCEL = kUnset;         // change of the smoothed phase over the last four frames, learned frames
  int WIDTH = kUnset;         // phase span in percent of the learned length; 100 when not computed
  int SPEED = kUnset;         // signed phase span per frame of the sequence, percent
  int JudgedLength = kUnset;  // learned length of the judged gesture, frames
  int INP_FNUM = kUnset;      // judgements of this gesture in the sequence, this one included
  int JudgedSpare = 0;  // the int stored after INP_FNUM; nothing reads it
  double rv = 0.0;  // motion size: DiffPixelCount plus the difference region's box area, pixels; learning, app
  double rt = 0.0;  // motion share: 4 x difference / foreground pixels plus the box-area ratio; 0 = no foreground
  double SampleSpread = 0.0;  // weighted spread of the best sample numbers over the active views in the current
                              // frame, squared learned frames; compared with OK_VAR; replay trace

  // ---- motion maps, view points, discrimination (engine-B) ----------------
  std::array<FeatureMapRecord, kMaps> FeatureMap{};  // [0] reference (never filled), [1] difference,
                                                     // [2] foreground, [3] spare, [4] edge
  double ForegroundPixelCount = 0.0;  // foreground pixels of the current frame, 0..4800
  std::array<double, kDirections> StepX{};  // direction table, column step scaled by SKIP
  std::array<double, kDirections> StepY{};  // row step scaled by SKIP; rows grow downwards, so a step subtracts it
  std::array<double, kTrigCache> CosCache = EmptyTrigCache();  // twiddle cache for the run; kEmptyTrigSlot
  std::array<double, kTrigCache> SinCache = EmptyTrigCache();  // the same for the sine
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
  std::array<double, kGestures> MaxDistance{};  // farthest L1 distance per gesture in the last view; -999999999 = none
  std::array<double, kGestures> MinDistance{};  // nearest L1 distance per gesture; 999999999 = none
  double OverallMaxDistance = 0.0;  // largest MaxDistance of the last view; the similarities' scale
};
extern RecognitionState recog;

}  // namespace orv
