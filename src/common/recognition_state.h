// Gesture recognition engine state. The main loop only uses the frame buffers and
// the result block.
#pragma once
#include <array>
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

struct RecognitionState {
  // ---- driver -------------------------------------------------------------
  std::array<std::array<uint8_t, kGriPixels>, 2> GrayFrame{};
  int GrayFrameIndex = 0;
  std::array<uint8_t, kGriPixels> GrayFrameCopy{};
  int mflg = 0;                  // frame number in the current motion sequence, 0..200
  double DiffPixelCount = -1.0;  // -1 = no previous frame
  int StillFrameCount = 0;

  // per-view scratch of the current frame, [view][gesture]
  std::array<std::array<int, kGestures>, kViews> ViewGesture{};
  std::array<std::array<int, kGestures>, kViews> ViewBestSample{};
  std::array<std::array<double, kGestures>, kViews> ViewSimilarity{};

  // [view][frame of the sequence - 1], 820 KB
  std::array<std::array<ViewFrameEntry, kSeqFrames>, kViews> FrameRecord{};

  // judgement state cleared by ResetRecognition
  double PhaseLow = 201.0;
  double PhaseHigh = -1.0;
  double PhaseLowStamp = 0.0, PhaseHighStamp = 0.0;
  int SequenceRejected = 0;
  int RejectRun = 0, AcceptRun = 0;
  std::array<int, kGestures> JudgeCounter{};
  std::array<RankEntry, kGestures> CumEvidence{}, FrameEvidence{};
  std::array<RankEntry, kGestures> CumRanking{}, FrameRanking{};
  std::array<int, kGestures> RecognitionCount{};

  // result block
  char JudgedName[144] = {};
  int JudgedGesture = -2;
  int PHASE = -4, ACCEL = -4, WIDTH = -4, SPEED = -4, JudgedLength = -4, INP_FNUM = -4;
  int JudgedSpare = 0;  // the int stored after INP_FNUM; nothing reads it
  double rv = 0.0, rt = 0.0;
  double SampleSpread = 0.0;

  // ---- motion maps, view points, discrimination (engine-B) ----------------
};
extern RecognitionState recog;

}  // namespace orv
