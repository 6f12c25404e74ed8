// Template weights of the view points per gesture, and the choice of the view points the
// recognizer uses.
//
// A view point is worth much for a gesture when its similarity to the gesture is high and
// steady over the learning samples, and when the sample numbers it matches (the phase it
// reports) spread widely yet advance in small, even steps from frame to frame.
#include <algorithm>
#include <cmath>

#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "learning/learning.h"
#include "recognition/recognition.h"

namespace orv {

namespace {

constexpr double kNoStepLimit = 5.0;  // phase step limit when nothing better is known

bool Valid(const SampleRecord& r) { return r.valid == 1; }
bool HasPhase(const SampleRecord& r) { return r.valid == 1 && r.sample > 0.0; }

// Weight of view point v of gesture g from its samples; false when it has no valid sample
// (it then keeps its weight and gets no template).
bool RateView(int g, int v, double& weight) {
  const auto& R = SampleTable[g][g][v];
  const double eps = learn.StatEpsilon;

  int n = 0;
  double sum = 0.0;
  for (const SampleRecord& r : R)
    if (Valid(r)) sum += r.similarity, ++n;
  if (n == 0) return false;
  const double m = sum / n;
  double sq = 0.0;
  for (const SampleRecord& r : R)
    if (Valid(r)) sq += (r.similarity - m) * (r.similarity - m);
  const double S = m / (sq / n + eps);
  weight = S;

  // Spread of the matched phases.
  int np = 0;
  double psum = 0.0;
  for (const SampleRecord& r : R)
    if (HasPhase(r)) psum += r.sample, ++np;
  double P = -1.0;
  if (np > 0) {
    const double pm = psum / np;
    double psq = 0.0;
    for (const SampleRecord& r : R)
      if (HasPhase(r)) psq += (r.sample - pm) * (r.sample - pm);
    P = psq / np;
  }

  // Phase steps between neighbouring samples.
  int k = 0;
  double dsum = 0.0, asum = 0.0;
  for (int s = 0; s + 1 < kSeqFrames; ++s)
    if (HasPhase(R[s]) && HasPhase(R[s + 1])) {
      const double d = R[s + 1].sample - R[s].sample;
      dsum += d, asum += std::fabs(d), ++k;
    }
  double D = -99999.0;
  if (k == 0) {
    engine.PhaseStepLimit[g] = kNoStepLimit;
  } else {
    const int length = learn.GestureInfo[g].length;
    double a = asum / k;
    a = length < 1 ? kNoStepLimit : std::min(a, 0.1 * length);
    a = std::max(a, 1.0);
    engine.PhaseStepLimit[g] = a > kNoStepLimit ? kNoStepLimit : a;
    const double dm = dsum / k;
    double dsq = 0.0;
    for (int s = 0; s + 1 < kSeqFrames; ++s)
      if (HasPhase(R[s]) && HasPhase(R[s + 1])) {
        const double d = R[s + 1].sample - R[s].sample;
        dsq += (d - dm) * (d - dm);
      }
    D = dsq / k;
  }

  if (P > 0.0 && D > 0.0) weight = std::sqrt(P) / (std::sqrt(D) + 100.0 * eps) * S;
  return true;
}

bool Templated(int g, int v) { return learn.RoiActive[v] && learning.ViewTemplateFlag[g][g][v]; }

// GestureWeight from the templated view points, and RateLimit capped by the largest
// number of templated view points of any gesture.
void TemplateTail(int g) {
  int n = 0;
  double T = 0.0;
  for (int v = 0; v < kViews; ++v)
    if (Templated(g, v)) ++n, T += learning.ViewTemplate[g][g][v];
  learn.GestureWeight[g] = (T != 0.0 && n != 0) ? n / T : 1.0;

  int u = 0;
  for (int h = 0; h < kGestures; ++h) {
    int count = 0;
    for (int v = 0; v < kViews; ++v) count += learning.ViewTemplateFlag[h][h][v] != 0;
    u = std::max(u, count);
  }
  if (u > 0 && learn.RateLimit[g] > u) learn.RateLimit[g] = u;
}

}  // namespace

void BuildTemplate(int g, int learningForm) {
  if (g < 0 || g >= kGestures) return;
  if (learningForm) {
    learn.NEROI = kViews;
    learn.RoiActive.fill(1);
    for (int v = 0; v < kViews; ++v) {
      learning.ViewTemplateFlag[g][g][v] = 1;
      double weight = learning.ViewTemplate[g][g][v];
      if (!RateView(g, v, weight)) {
        learning.ViewTemplateFlag[g][g][v] = 0;
        continue;
      }
      learning.ViewTemplate[g][g][v] = weight;
    }
    double M = -1e10;
    for (int v = 0; v < kViews; ++v)
      if (Templated(g, v)) M = std::max(M, learning.ViewTemplate[g][g][v]);
    if (M > 0.0)
      for (int v = 0; v < kViews; ++v)
        if (Templated(g, v)) learning.ViewTemplate[g][g][v] /= M;
    learning.TemplateBackup = learning.ViewTemplate;
  } else {
    learning.ViewTemplate = learning.TemplateBackup;
    for (int v = 0; v < kViews; ++v) learning.ViewTemplateFlag[g][g][v] = learn.RoiActive[v] ? 1 : 0;
  }
  TemplateTail(g);
}

void SelectViewPoints() {
  LearningState& l = learn;
  if (l.LearningPasses > 0 || engine.REVIEW_MODE || l.NEROI != kViews) l.UseRoiMask = 0;

  l.RoiActive.fill(1);
  for (int g = 0; g < kGestures; ++g) BuildTemplate(g, 0);

  learning.ViewRanking.fill(ViewScore{0, 0.0});
  for (int g = 0; g < kGestures; ++g)
    for (int v = 0; v < kViews; ++v) {
      if (!learning.ViewTemplateFlag[g][g][v]) continue;
      learning.ViewRanking[v].view = v;
      learning.ViewRanking[v].score += l.UseRoiMask ? (l.RoiMask[v] != 0 ? 1.0 : 0.0)
                                             : l.GestureWeight[g] * learning.ViewTemplate[g][g][v];
    }
  // Highest score first; a stable exchange sort keeps the lower view number first among
  // equal scores.
  for (int pass = 0; pass < kViews; ++pass)
    for (int i = 0; i + 1 < kViews; ++i)
      if (learning.ViewRanking[i].score < learning.ViewRanking[i + 1].score) std::swap(learning.ViewRanking[i], learning.ViewRanking[i + 1]);

  // The count may come from a file; it is a count of view points.
  long K = l.NEROI;
  if (l.UseRoiMask) {
    K = 0;
    for (int m : l.RoiMask) K += m;
  }
  K = std::clamp<long>(K, 0, kViews);

  l.RoiActive.fill(0);
  engine.MapEnable.fill(0);
  for (int i = 0; i < K; ++i) {
    const int view = learning.ViewRanking[i].view;
    l.RoiActive[view] = 1;
    for (int m : ViewMaps[view]) ++engine.MapEnable[m];
  }
  if (!l.UseRoiMask) l.NEROI = static_cast<int>(K);

  for (int g = 0; g < kGestures; ++g) {
    if (l.JudgeCount[g][0] <= 0) continue;
    double sum = 0.0;
    for (int v = 0; v < kViews; ++v)
      if (l.RoiActive[v]) sum += l.RoiWeightSum[g][v];
    l.JudgeSum[g][0] = sum;
    l.RateLimit[g] = sum * l.RF_COEFFICIENT / l.JudgeCount[g][0];
  }

  for (int g = 0; g < kGestures; ++g) BuildTemplate(g, 0);

  // A fresh sequence over the new view points; the frame difference and the recognition
  // counts carry on.
  const double diff = recog.DiffPixelCount;
  const auto counts = recog.RecognitionCount;
  ResetRecognition();
  recog.DiffPixelCount = diff;
  recog.RecognitionCount = counts;
  recog.PHASE = -1;
}

}  // namespace orv
