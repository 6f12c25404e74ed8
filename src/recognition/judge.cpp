// Gesture judgement, once per frame of a motion sequence and once more at its end: the
// per-view similarities become evidence through the protocol map, the gestures are ranked
// by cumulative and by current evidence, a candidate is chosen with a hysteresis, and the
// candidate's phase is estimated from the best-matching samples, smoothed and published.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "kb/learning_state.h"
#include "common/platform.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "common/timer.h"
#include "recognition/phase.h"
#include "recognition/recognition.h"

namespace orv {

namespace {

constexpr int kNameChars = 19;     // characters of a gesture name that are published

// --- ranking order and agreement ---

// Highest score first; a record moves up only past a strictly lower score, so equal scores
// keep ascending gesture order.
void SortByScore(std::array<RankEntry, kGestures>& t) {
  for (int pass = 0; pass < kGestures; ++pass)
    for (int i = 0; i + 1 < kGestures; ++i)
      if (t[i + 1].score > t[i].score) std::swap(t[i], t[i + 1]);
}

// Spearman-style agreement of the two rankings over the positions both rank with a positive
// score. In double precision: with integer division three or more ranked gestures would
// come out as exactly 0 or 1 and flip drop decisions.
double Agreement(const std::array<RankEntry, kGestures>& cum, const std::array<RankEntry, kGestures>& now) {
  int n = 0;
  double d = 0.0;
  for (int r = 0; r < kGestures; ++r) {
    if (cum[r].score > 0.0 && now[r].score > 0.0) {
      ++n;
      const double diff = cum[r].gesture - now[r].gesture;
      d += diff * diff;
    }
  }
  const double denom = static_cast<double>(n) * n * n - n;
  return denom == 0.0 ? 1.0 : 1.0 - 6.0 * d / denom;
}

// --- phase range and dropped sequences ---

void TrackRange(double phi, int g) {
  if (phi < recog.PhaseLow) {
    recog.PhaseLow = phi;
    recog.PhaseLowStamp = recog.JudgeCounter[g];
  }
  if (phi > recog.PhaseHigh) {
    recog.PhaseHigh = phi;
    recog.PhaseHighStamp = recog.JudgeCounter[g];
  }
}

void ClearPhaseRange() {
  recog.PhaseLow = kNoLow;
  recog.PhaseHigh = kNoHigh;
  recog.PhaseLowStamp = recog.PhaseHighStamp = 0.0;
}

// A sequence that is rejected counts again from frame 1 within the same motion. The phase
// state goes with it: the gesture that follows starts from its own beginning.
void DropSequence(int rejected) {
  ClearPhaseRange();
  ClearPhaseSmoothing();
  recog.SequenceRejected = rejected;
  recog.RejectRun = recog.AcceptRun = 0;
  recog.mflg = 0;
  recog.PHASE = -1;
  ClearSequenceEvidence();
}

int Fail(int judged) {
  recog.JudgedGesture = judged;
  return kNoResult;
}

// --- evidence, rankings and candidate ---

// The gesture whose review statistics are collected, or -1 outside a review.
int ReviewGesture() {
  const int p = learn.pos_num;
  return engine.REVIEW_MODE == 1 && p >= 0 && p < kGestures ? p : -1;
}

// Evidence of frame f: every compared gesture's protocol-map weight in every view.
void CollectEvidence(int f) {
  auto& history = recog.EvidenceHistory[f];
  for (int k = 0; k < kGestures; ++k) {
    recog.CumEvidence[k].gesture = k;
    recog.FrameEvidence[k].gesture = k;
    recog.FrameEvidence[k].score = 0.0;
    history[k].fill(0.0);
  }
  // Views outer, gestures inner: each gesture's sums still run over the views in order.
  for (int l = 0; l < kViews; ++l) {
    const ViewFrameEntry& e = recog.FrameRecord[l][f];
    for (int k = 0; k < kGestures; ++k) {
      if (e.gesture[k] < 0) continue;
      const double w = ProtocolMap[k][k][l][SimilarityLevel(e.similarity[k])];
      recog.CumEvidence[k].score += w;
      recog.FrameEvidence[k].score += w;
      history[k][l] += w;
    }
  }
}

void RankGestures() {
  const double m = (std::log(learn.SKIP) + 1.0) * (std::log(learn.RSKIP) + 1.0);
  for (int k = 0; k < kGestures; ++k) {
    recog.CumRanking[k] = RankEntry{k, learn.GestureWeight[k] * recog.CumEvidence[k].score * m};
    recog.FrameRanking[k] = RankEntry{k, learn.GestureWeight[k] * recog.FrameEvidence[k].score * m};
  }
  SortByScore(recog.CumRanking);
  SortByScore(recog.FrameRanking);
  recog.RankAgreement = Agreement(recog.CumRanking, recog.FrameRanking);
}

// Candidate of a recognition call, with the hysteresis. -1 = none (also after a drop);
// kNoJudgement = the rankings tie and nothing can be said.
int RecognitionCandidate(int frames) {
  const auto& cum = recog.CumRanking;
  const auto& now = recog.FrameRanking;
  if (cum[0].score == cum[1].score && now[0].score == now[1].score) return kNoJudgement;
  int candidate = cum[0].score / frames >= learn.RateLimit[cum[0].gesture] ? cum[0].gesture : -1;
  const int repeat = learn.JudgeRepeat;
  if (now[0].score >= learn.RateLimit[now[0].gesture]) {
    if (recog.AcceptRun < repeat) ++recog.AcceptRun;
    if (recog.RejectRun > 0) --recog.RejectRun;
    if (recog.AcceptRun >= repeat) candidate = cum[0].gesture;
  } else if (!recog.SequenceRejected) {
    if (recog.AcceptRun > 0) --recog.AcceptRun;
    if (recog.RejectRun < repeat) ++recog.RejectRun;
    if (recog.RejectRun >= repeat) DropSequence(1);
  }
  return candidate;
}

void CollectReviewEvidence(int f) {
  const int p = ReviewGesture();
  if (p < 0 || recog.CumRanking[0].gesture != p || recog.CumRanking[0].score == recog.CumRanking[1].score)
    return;
  const double weight = learn.GestureWeight[p];
  for (int v = 0; v < kViews; ++v) learn.RoiWeightSum[p][v] += weight * recog.EvidenceHistory[f][p][v];
  learn.JudgeSum[p][0] += recog.FrameRanking[0].score;
  learn.JudgeCount[p][0] += 1;
}

// --- phase of the candidate ---

// Raw phase of frame i for gesture g, its evidence normalised in place and the view weights
// kept in ViewWeight. false when no view has evidence.
bool EstimatePhase(int i, int g, double& phase) {
  std::array<int, kViews> sample;
  for (int v = 0; v < kViews; ++v) sample[v] = recog.FrameRecord[v][i].sample[g];
  return PhaseFromViews(recog.EvidenceHistory[i][g], sample, recog.ViewWeight, phase);
}

// Raw phases of frames 0..f for gesture g. A frame keeps the phase it was first given, so
// only frames that had none yet (a new candidate, a frame without evidence) are estimated.
void RawPhases(int f, int g) {
  double last = -1.0;
  const bool carry = learn.LearningPasses < 1;
  for (int i = 0; i <= f; ++i) {
    double& track = recog.PhaseTrack[i][g];
    if (track >= 1.0) {
      recog.FramePhase[i] = last = track;
      continue;
    }
    double p = -1.0;
    if (!EstimatePhase(i, g, p) && carry && last > 0.0) p = last;
    recog.FramePhase[i] = p;
    if (p >= 1.0) track = last = p;
  }
}

// The smoothed phase of frame f, also stored in SmoothedPhase[f].
double SmoothPhase(int f, int g) {
  double before = 0.0;
  if (f > 0) {
    const int prev = CheckIndex(f - 1);
    if (prev >= 0) before = recog.FramePhase[prev];
  }
  const double phi = SmoothRawPhase(recog.FramePhase[f], before, engine.PhaseStepLimit[g], learn.GestureInfo[g].length,
                                    recog.PhaseRing5, recog.PhaseRing5Index, recog.PhaseRing3, recog.PhaseRing3Index);
  recog.SmoothedPhase[f] = phi;
  return phi;
}

// A large jump of the smoothed phase tightens the gesture's limit by 0.5, never below 1.0.
void AdaptStepLimit(int f, int g, double phi) {
  double& limit = engine.PhaseStepLimit[g];
  if (f > 0) {
    const int prev = CheckIndex(f - 1);
    const double before = prev >= 0 ? recog.SmoothedPhase[prev] : 0.0;
    if (TightenStepLimit(limit, phi, before))
      std::printf("Changed threshold for phase difference :  %6.2lf\n", limit);
    if (limit < 1.0) limit = 1.0;
  }
  TrackRange(phi, g);
}

// --- spread and name ---

// Spread of the best sample numbers over the active views, weighted as in the phase estimate.
void MeasureSpread(int f, int g) {
  int n = 0;
  double sum = 0.0;
  for (int v = 0; v < kViews; ++v)
    if (learn.RoiActive[v]) sum += recog.FrameRecord[v][f].sample[g], ++n;
  double spread = 0.0;
  if (n > 0) {
    const double mean = sum / n;
    for (int v = 0; v < kViews; ++v) {
      if (!learn.RoiActive[v]) continue;
      const double d = (recog.FrameRecord[v][f].sample[g] - mean) * recog.ViewWeight[v];
      spread += d * d;
    }
    spread /= n;
  }
  recog.SampleSpread = spread;
  if (const int p = ReviewGesture(); p >= 0) {
    learn.JudgeSum[p][1] += spread;
    learn.JudgeCount[p][1] += 1;
  }
}

void PublishName(int g) {
  const char* name = learn.GestureInfo[g].name;
  const size_t n = strnlen(name, kNameChars);
  std::memcpy(recog.JudgedName + 1, name, n);
  recog.JudgedName[1 + n] = '\0';
}

}  // namespace

// --- the judgement ---

void ClearPhaseSmoothing() {
  recog.SmoothedPhase.fill(0.0);
  recog.PhaseRing5.fill(0.0);
  recog.PhaseRing3.fill(0.0);
  recog.PhaseRing5Index = recog.PhaseRing3Index = 0;
}

int JudgeMap(int learnGesture, int final) {
  const int frames = recog.mflg;
  if (frames < 1 || frames > kSeqFrames) return Fail(kNoJudgement);
  const int f = CheckIndex(frames - 1);
  const bool learning = learnGesture >= 0 && learnGesture < kGestures;
  // Live recognition per frame: the only judgements the acceptance tests may refuse.
  const bool live = engine.REVIEW_MODE == 0 && learn.LearningPasses < 1 && !learning && final == 0;

  ResetResultBlock();
  recog.PhaseTrack[f].fill(0.0);

  // ---- evidence, rankings, candidate ----
  CollectEvidence(f);
  RankGestures();

  int candidate;
  if (learning) {
    candidate = learnGesture;
  } else if (learn.LearningPasses > 0 || engine.REVIEW_MODE == 1) {
    candidate = learn.pos_num;
  } else {
    candidate = RecognitionCandidate(frames);
    if (candidate == kNoJudgement) return Fail(kJudgementFailed);
  }
  recog.CandidateGesture = candidate;
  if (candidate < 0 || recog.mflg < 1) return Fail(kJudgementFailed);
  recog.SequenceRejected = 0;
  CollectReviewEvidence(f);

  const int g = candidate;
  if (g >= kGestures) {
    if (learn.CamBeep) Bell();
    std::printf("Illegal GestureNo Found in JudgeMap()(2).\n");
    return Fail(kJudgementFailed);
  }

  // ---- phase ----
  recog.FramePhase.fill(0.0);
  if (learning) {
    // The learned motion itself: frame i is phase i + 1.
    for (int i = 0; i <= f; ++i) {
      recog.SmoothedPhase[i] = i + 1;
      TrackRange(i + 1, g);
    }
  } else {
    RawPhases(f, g);
    if (!(recog.FramePhase[f] >= 1.0)) return Fail(kJudgementFailed);
    AdaptStepLimit(f, g, SmoothPhase(f, g));
    MeasureSpread(f, g);
  }

  // ---- publishing ----
  double& phase = recog.SmoothedPhase[f];
  if (recog.PhaseHigh == kNoHigh || recog.PhaseLow == kNoLow || !(phase > 0.0 && phase < kNoLow)) {
    recog.JudgedGesture = kNoJudgement;
    return 0;
  }
  const int length = learn.GestureInfo[g].length;
  if (live && recog.SampleSpread > learn.OK_VAR[g] && f > 0) {
    // Unsteady matching: the phase may move by no more than the step limit.
    const double before = recog.SmoothedPhase[CheckIndex(f - 1)];
    if (before > 0.0) phase = LimitStep(phase, before, engine.PhaseStepLimit[g]);
  }
  if (phase > length) phase = length;
  if (phase < 1.0) phase = 1.0;
  TrackRange(phase, g);
  const double span = std::fabs(recog.PhaseHigh - recog.PhaseLow);

  PublishName(g);
  recog.JudgedGesture = g;
  recog.PHASE = static_cast<int>(phase);
  ++recog.JudgeCounter[g];
  recog.WIDTH = 100;
  recog.ACCEL = 0;
  recog.SPEED = 0;
  recog.JudgedLength = length;
  recog.INP_FNUM = recog.JudgeCounter[g];
  ++recog.RecognitionCount[g];
  if (learnGesture == -1 && length > 1) recog.WIDTH = static_cast<int>(span * 100.0 / (length - 1));
  if (frames > 4) {
    const int back = CheckIndex(frames - 5);
    if (back >= 0) recog.ACCEL = static_cast<int>(phase - recog.SmoothedPhase[back]);
  }
  const int s = static_cast<int>(span);
  if (recog.PhaseLowStamp < recog.PhaseHighStamp) {
    recog.PhaseDirection = 1;
    recog.SPEED = s * 100 / frames;
  } else if (recog.PhaseHighStamp < recog.PhaseLowStamp) {
    recog.PhaseDirection = -1;
    recog.SPEED = s * -100 / frames;
  } else {
    recog.SPEED = s * 100 / frames * recog.PhaseDirection;
  }

  // ---- acceptance ----
  const auto& cum = recog.CumRanking;
  double second = -1.0;
  for (int r = 1; r < kGestures; ++r) second = std::max(second, cum[r].score);
  if (cum[0].score > 0.0 && second > 0.0) {
    const double ratio = second / cum[0].score;
    if (live) {
      if (ratio > learn.MatchLimit[cum[0].gesture]) return Fail(kNoJudgement);  // two gestures too close
      if (recog.RankAgreement < learn.OCThreshold) {
        DropSequence(0);
        return 0;
      }
    }
    if (const int p = ReviewGesture(); p >= 0 && cum[0].gesture == p) {
      learn.JudgeSum[p][2] += ratio;
      learn.JudgeCount[p][2] += 1;
    }
  }

  recog.PhaseRing5Index = (recog.PhaseRing5Index + 1) % 5;
  recog.PhaseRing3Index = (recog.PhaseRing3Index + 1) % 3;

  // A new candidate starts its phase afresh and is published from its second call on.
  if (!learning && g != recog.PreviousCandidate) {
    ResetResultBlock();
    ClearPhaseRange();
    ClearPhaseSmoothing();
  }
  recog.PreviousCandidate = g;
  return 0;
}

}  // namespace orv
