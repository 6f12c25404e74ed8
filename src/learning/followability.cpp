// The verdict on a taught motion: does the judgement's phase follow it from start to end?
// A motion can be taught and recognised and still not be followable: when its frames look
// alike in the views (a figure that only moves across the picture: the views that look at
// the figure's own region see the same shape everywhere), the best-matching samples do not
// tell where in the motion the performer is, and the phase stays near the start. The verdict
// replays the stored frames against the knowledge base, each one left out in turn, through
// the judgement's own phase estimate, so the performer hears about it while still in front
// of the camera. Pessimistic by design: a new performance is never identical to a stored
// frame either.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "kb/learning_state.h"
#include "learning/learning.h"
#include "learning/learning_work.h"
#include "recognition/engine_setup.h"
#include "recognition/phase.h"
#include "recognition/recognition.h"

namespace orv {

namespace {

constexpr double kRatioCap = 99.0;  // another gesture gathers evidence and g none

// --- one stored frame against all the others ---

template <typename T>
using GestureViews = std::array<std::array<T, kViews>, kGestures>;

// One stored frame as Discriminate would see it coming from the camera, per gesture and view.
struct FrameMatch {
  GestureViews<bool> compared;    // a stored sample of the gesture was compared
  GestureViews<double> similarity;  // 0..1, relative within the view as in Discriminate
  GestureViews<int> sample;       // 1-based best sample, 0 = none
};

bool HasProtocolMap(int g) {
  for (const auto& levels : ProtocolMap[g][g])
    for (double e : levels)
      if (e != 0.0) return true;
  return false;
}

// Stored frame i of gesture g in view v against every stored sample of every gesture, except
// itself, by discrimination's own scan.
void MatchStoredFrame(int g, int i, int v, FrameMatch& m) {
  for (int h = 0; h < kGestures; ++h) {
    m.compared[h][v] = false;
    m.similarity[h][v] = 0.0;
    m.sample[h][v] = 0;
  }
  if (!learn.RoiActive[v] || !PatternPresent[v][g][i]) return;
  const double* query = (v & 1) ? Patterns->Ps[v][g][i].data() : Patterns->Re[v][g][i].data();
  NearestSamples near;
  FindNearestSamples(query, v, g, i, near);
  for (int h = 0; h < kGestures; ++h) {
    m.compared[h][v] = near.found[h];
    m.similarity[h][v] = near.similarity[h];
    m.sample[h][v] = near.sample[h];
  }
}

}  // namespace

// --- the verdict ---

void JudgeFollowability(int g) {
  if (g < 0 || g >= kGestures) return;
  learning.Followability[g] = -1;
  learning.NearestGesture[g] = -1;
  learning.NearestRatio[g] = 0.0;
  learning.FollowedLow[g] = learning.FollowedHigh[g] = 0;
  const int length = std::clamp(learn.GestureInfo[g].length, 0, kSeqFrames);
  if (!Patterns || length < 2) return;

  // Before the first pass the gesture has no protocol map: every view that found a sample
  // then counts alike in the phase, and nothing can be said about other gestures yet.
  const bool templates = HasProtocolMap(g);
  std::array<bool, kGestures> rivals{};
  for (int h = 0; h < kGestures; ++h) rivals[h] = templates && h != g && HasProtocolMap(h);

  std::array<double, kViews> typical{};
  for (int v = 0; v < kViews; ++v) typical[v] = *std::max_element(ProtocolMap[g][g][v].begin(), ProtocolMap[g][g][v].end());

  // The judgement's phase state, on copies: nothing of the engine's own changes.
  double limit = engine.PhaseStepLimit[g];
  std::array<double, 5> ring5{};
  std::array<double, 3> ring3{};
  int index5 = 0, index3 = 0;
  double lastRaw = -1.0, lastPhase = 0.0;
  double low = kNoLow, high = kNoHigh, rise = 0.0, travel = 0.0;
  std::array<double, kGestures> cum{};

  FrameMatch m;
  for (int i = 0; i < length; ++i) {
    for (int v = 0; v < kViews; ++v) MatchStoredFrame(g, i, v, m);

    // A frame left out finds its neighbours, never the near copy of itself that a repeated
    // performance finds, so its own similarity falls below what the passes taught the protocol
    // map, and the map's evidence would follow chance. Each view of g that found a sample
    // counts with the evidence it gives at its most typical similarity (the peak of its map),
    // or alike before any map exists; that is also g's side of the ratio. Another gesture's
    // evidence is what the map of that gesture gives this frame: how much it looks like it.
    GestureViews<double> evidence{};
    for (int v = 0; v < kViews; ++v)
      evidence[g][v] = m.compared[g][v] && m.sample[g][v] > 0 ? (templates ? typical[v] : 1.0) : 0.0;
    for (int h = 0; h < kGestures; ++h) {
      if (h != g && !rivals[h]) continue;
      if (h != g)
        for (int v = 0; v < kViews; ++v)
          if (m.compared[h][v]) evidence[h][v] = ProtocolMap[h][h][v][SimilarityLevel(m.similarity[h][v])];
      double sum = 0.0;
      for (double e : evidence[h]) sum += e;
      cum[h] += learn.GestureWeight[h] * sum;
    }

    double p = -1.0;
    std::array<double, kViews> weight{};
    if (!PhaseFromViews(evidence[g], m.sample[g], weight, p) && lastRaw > 0.0) p = lastRaw;
    if (!(p >= 1.0)) continue;  // the judgement would not count this frame
    const double raw = p;
    double phase = SmoothRawPhase(p, lastRaw, limit, length, ring5, index5, ring3, index3);
    if (lastPhase > 0.0) {
      TightenStepLimit(limit, phase, lastPhase);
      limit = std::max(limit, 1.0);
      travel += std::fabs(phase - lastPhase);
      rise += std::max(0.0, phase - lastPhase);
    }
    index5 = (index5 + 1) % 5;
    index3 = (index3 + 1) % 3;
    lastRaw = raw;
    lastPhase = phase = std::clamp(phase, 1.0, static_cast<double>(length));
    low = std::min(low, phase);
    high = std::max(high, phase);
  }

  if (high < low) {
    learning.Followability[g] = 0;
  } else {
    const double coverage = (high - low) / (length - 1);
    const double rising = travel > 0.0 ? rise / travel : 0.0;
    learning.Followability[g] = static_cast<int>(std::lround(100.0 * std::clamp(coverage * rising, 0.0, 1.0)));
    learning.FollowedLow[g] = static_cast<int>(low);
    learning.FollowedHigh[g] = static_cast<int>(high);
  }

  int nearest = -1;
  for (int h = 0; h < kGestures; ++h)
    if (rivals[h] && (nearest < 0 || cum[h] > cum[nearest])) nearest = h;
  if (nearest >= 0) {
    learning.NearestGesture[g] = nearest;
    learning.NearestRatio[g] = cum[g] > 0.0 ? std::min(cum[nearest] / cum[g], kRatioCap)
                                         : (cum[nearest] > 0.0 ? kRatioCap : 0.0);
  }
  PrintFollowability(g);
}

// --- its report ---

void PrintFollowability(int g) {
  if (g < 0 || g >= kGestures || learning.Followability[g] < 0) return;
  const std::string name = GestureName(g);
  const int score = learning.Followability[g];
  const int length = learn.GestureInfo[g].length;
  if (learning.FollowedHigh[g] > 0)
    std::printf("VERDICT [ %s ]: followability %d of 100 (the engine follows from %d) - its phase went from %d to %d of "
                "%d frames.\n",
                name.c_str(), score, kFollowableLevel, learning.FollowedLow[g], learning.FollowedHigh[g], length);
  else
    std::printf("VERDICT [ %s ]: followability %d of 100 (the engine follows from %d) - no phase could be estimated.\n",
                name.c_str(), score, kFollowableLevel);

  const int h = learning.NearestGesture[g];
  if (!HasProtocolMap(g)) {
    std::printf("VERDICT [ %s ]: the nearest other gesture is known after the first pass (s).\n", name.c_str());
  } else if (h < 0) {
    std::printf("VERDICT [ %s ]: no other gesture is taught to confuse it with.\n", name.c_str());
  } else {
    const double ratio = learning.NearestRatio[g], limit = learn.MatchLimit[g];
    // The judgement refuses a frame whose ratio exceeds the limit, and cannot choose at all
    // between equal scores.
    const char* meaning = ratio > 1.0                      ? "it is taken for the other one"
                          : ratio >= limit || ratio >= 1.0 ? "too close: the judgement cannot tell them apart"
                                                           : "kept apart";
    std::printf("VERDICT [ %s ]: nearest other gesture [ %s ], evidence ratio %.3f against the limit %.2f - %s.\n",
                name.c_str(), GestureName(h).c_str(), ratio, limit, meaning);
  }
  if (score < kFollowableLevel)
    std::printf("WARNING: the engine could not follow the progress of [ %s ]: its phase would not move through the "
                "frames with you. Motions that turn about a fixed point (an arm swinging from the shoulder, an arm "
                "raised, a bow from the hips) are followed; a figure or an object that only moves across the picture "
                "looks the same at every point of its way and is not. Teach a turning motion instead, or play the "
                "content by motion, without a knowledge base.\n",
                name.c_str());
  std::fflush(stdout);
}

}  // namespace orv
