// Per-frame driver of the recognition engine: motion sequences, frame records, the
// still counter and the abort path.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kb/learning_state.h"
#include "recognition/recognition_state.h"
#include "common/timer.h"
#include "kb/kb.h"
#include "recognition/driver.h"
#include "recognition/recognition.h"

namespace orv {

namespace {

constexpr int kStillPixels = 24;  // a frame with at most this many difference pixels is still

bool Learning(int learnGesture) { return learnGesture >= 0 && learnGesture < kGestures; }

// pos_num is bounded when loaded; anything else that sets it could still leave it out
// of range, and it indexes SampleCount and SampleTable here.
bool RecordsSamples() { return learn.LearningPasses > 0 && learn.pos_num >= 0 && learn.pos_num < kGestures; }

void ClearView(int v) {
  recog.ViewBestSample[v].fill(0);
  recog.ViewSimilarity[v].fill(0.0);
  recog.ViewGesture[v].fill(-1);
}

void StoreFrameRecord() {
  const int f = CheckIndex(recog.mflg - 1);
  if (f < 0 || f >= kSeqFrames) return;  // the guarded access must not take place
  const bool record = RecordsSamples();
  const int p = learn.pos_num;
  if (record && learn.SampleCount[p] >= kSeqFrames) learn.SampleCount[p] = 0;
  const int slot = record ? std::max(0, learn.SampleCount[p]) : 0;
  for (int l = 0; l < kViews; ++l) {
    ViewFrameEntry& e = recog.FrameRecord[l][f];
    for (int k = 0; k < kGestures; ++k) {
      e.gesture[k] = learn.RoiActive[l] ? recog.ViewGesture[l][k] : -1;
      e.sample[k] = recog.ViewBestSample[l][k];
      e.similarity[k] = recog.ViewSimilarity[l][k];
      if (record)
        SampleTable[p][k][l][slot] = SampleRecord{e.gesture[k] != -1 ? 1 : 0, 0, e.similarity[k],
                                                  static_cast<double>(e.sample[k])};
    }
  }
}

// A frame that does not count: no judgement, and when a view failed while learning,
// that gesture's samples of this frame and later are dropped.
void AbortFrame(int learnGesture, int failedView) {
  recog.JudgedGesture = kNoJudgement;
  if (failedView >= 0) {
    ClearView(failedView);
    if (Learning(learnGesture) && recog.mflg > 0) {
      for (int v = 0; v < kViews; ++v)
        for (int s = std::min(recog.mflg, kSeqFrames) - 1; s < kSeqFrames; ++s)
          ReleasePattern(v, learnGesture, s);
    }
  }
  ResetResultBlock();
  if (recog.mflg > 0) --recog.mflg;
}

}  // namespace

void ResetResultBlock() {
  std::memset(recog.JudgedName, 0, sizeof recog.JudgedName);
  recog.JudgedGesture = kNoJudgement;
  recog.PHASE = recog.ACCEL = recog.WIDTH = recog.SPEED = recog.JudgedLength = recog.INP_FNUM = kUnset;
  recog.JudgedSpare = 0;
}

void ClearSequenceEvidence() {
  recog.JudgeCounter.fill(0);
  recog.CumRanking.fill(RankEntry{0, 0.0});
  recog.CumEvidence.fill(RankEntry{0, 0.0});
  recog.FrameRanking.fill(RankEntry{0, 0.0});
  recog.FrameEvidence.fill(RankEntry{0, 0.0});
  std::memset(&recog.FrameRecord, 0, sizeof recog.FrameRecord);
}

void ResetRecognition() {
  recog.mflg = 0;
  recog.DiffPixelCount = -1.0;
  recog.PhaseLow = 201.0;
  recog.PhaseHigh = -1.0;
  recog.PhaseLowStamp = recog.PhaseHighStamp = 0.0;
  recog.SequenceRejected = recog.RejectRun = recog.AcceptRun = 0;
  ClearSequenceEvidence();
  recog.RecognitionCount.fill(0);
  // The next sequence may be the same gesture again: it must start from its own first
  // phase, not from where the previous repetition ended.
  ClearPhaseSmoothing();
}

bool DriveGRI(int learnGesture, const std::array<uint8_t, kCamPixels>& gray) {
  if (!Learning(learnGesture)) learnGesture = -1;

  recog.GrayFrameIndex = 1 - (recog.GrayFrameIndex & 1);
  FeedFrame(gray);

  // Still counter, from the previous frame's difference count.
  double x = recog.DiffPixelCount;
  if (x > kStillPixels) {
    recog.StillFrameCount = 0;
  } else if (++recog.StillFrameCount > learn.GRATE * 60) {
    recog.StillFrameCount = 0;
  }

  // First frame after a reset: both buffers get the new frame, so its difference is empty.
  if (x == -1.0) {
    x = 0.0;
    const int filled = recog.GrayFrameIndex;
    recog.GrayFrameIndex = 1 - filled;
    recog.GrayFrame[recog.GrayFrameIndex] = recog.GrayFrame[filled];
  }

  ComputeFrameMaps();

  if (recog.mflg < 0) std::printf("WARNING in DriveGRI(), mflg<0\n");

  if (recog.DiffPixelCount > 0 && recog.mflg >= 0 && recog.mflg <= kSeqFrames - 1) {
    // Motion continues: one more frame of the sequence.
    BeginFrameViews();
    ResetResultBlock();
    ++recog.mflg;
    recog.LastView = -99;
    for (int v = 0; v < kViews; ++v) {
      recog.ViewGesture[v].fill(-1);
      recog.ViewSimilarity[v].fill(0.0);
      recog.ViewBestSample[v].fill(learn.RoiActive[v] ? recog.mflg : 0);
      if (!learn.RoiActive[v]) continue;
      if (Discriminate(learnGesture, recog.ViewSimilarity[v].data(), recog.ViewBestSample[v].data(),
                       recog.ViewGesture[v].data(), v) == kCannotUse) {
        AbortFrame(learnGesture, v);
        recog.JudgedGesture = kNoJudgement;
        return false;
      }
    }
    if (recog.mflg >= 1 && recog.mflg <= kSeqFrames) StoreFrameRecord();

    if (JudgeMap(learnGesture, 0) == kNoResult && learn.LearningPasses < 1) {
      AbortFrame(learnGesture, -1);
      recog.JudgedGesture = kNoJudgement;
      return false;
    }
    if (RecordsSamples() && learn.SampleCount[learn.pos_num] < kSeqFrames) ++learn.SampleCount[learn.pos_num];
    return false;
  }

  // Motion stopped, or the sequence is full.
  if (recog.mflg > 3) {
    recog.mflg = std::min(recog.mflg, kSeqFrames);
    JudgeMap(learnGesture, 1);
    return true;  // the caller runs the learning hand-off next

  }
  if (recog.mflg >= 1) {
    // Too short to judge.
    ResetRecognition();
    if (Learning(learnGesture)) DiscardSamples(learnGesture);
  }
  recog.JudgedGesture = kNoJudgement;
  return false;
}

}  // namespace orv
