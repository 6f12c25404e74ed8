// Gesture-driven playback: the recognizer's phase moves the frame position, and the
// acceptance limit OK_VAR widens for gestures that are judged outside it too often.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "control/control_state.h"
#include "kb/learning_state.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "app/gesture_playback.h"
#include "common/timer.h"
#include "learning/learning.h"

namespace orv {

namespace {

// The share of judgements above the limit that widens it: more than 3 in 10.
constexpr int kWidenNum = 3, kWidenDen = 10;
constexpr double kWidenFactor = 1.03;

bool LearningRuns() { return learn.LearningPasses >= 1 || engine.REVIEW_MODE != 0; }

// Motion values of the judged frames of a taught motion and its passes: the motion level of
// the calibration at the end of automatic learning. Not the review: it judges the recorded
// pass frames again while the camera shows whatever the room does meanwhile.
void SumLearningMotion() {
  if (control.LearnGesture < 0 && learn.LearningPasses < 1) return;
  if (recog.JudgedGesture < 0 || recog.JudgedGesture >= kGestures || recog.PHASE == -1) return;
  if (recog.mflg < 1 || recog.rv <= 0.0 || player.DifferenceSum <= 0) return;
  if (control.MovingCount >= 0 && control.MovingCount < kCalibrationValues)
    control.MovingValues[static_cast<size_t>(control.MovingCount++)] = player.DifferenceSum;
  if (control.DifferenceSum2 > INT32_MAX - player.DifferenceSum) return;  // the sum stays as it is
  control.DifferenceSum2 += player.DifferenceSum;
  ++control.DifferenceCnt;
}

// One gauge field: truncated, then held within 0..18 (NaN and infinities included).
int GaugeCell(double v) {
  if (!(v >= 0.0)) return 0;
  if (v > 18.0) return 18;
  return static_cast<int>(v);
}

}  // namespace

// Records whether gesture g's judgement was outside its limit; widens the limit by 3 % when
// more than 30 % of the remembered judgements were, and then starts the count afresh.
void AdaptOkLimit(int g) {
  if (g < 0 || g >= kGestures) return;
  auto& h = app.OkHistory[static_cast<size_t>(g)];
  for (int i = static_cast<int>(h.size()) - 2; i >= 0; --i) h[CheckIndex(i + 1)] = h[CheckIndex(i)];
  h[0] = recog.SampleSpread > learn.OK_VAR[g] ? 1 : 2;
  int above = 0, entries = 0;
  for (int v : h) {
    if (v == 1) ++above;
    if (v != 0) ++entries;
  }
  // Compared in integers: 3 of 10 is exactly the limit and must not widen it.
  if (entries > 0 && above * kWidenDen > entries * kWidenNum) {
    learn.OK_VAR[g] *= kWidenFactor;
    for (int& v : h)
      if (v != 0) v = 2;
  }
}

// PHASE of JudgedLength onto the content, or onto the replay period when one is set.
void MapPhaseToFrame() {
  const int phase = recog.PHASE, length = recog.JudgedLength, count = player.MaxCount;
  if (phase <= 0 || length <= 0 || count <= 0) return;
  const bool reversed = control.MouseReverseFlag != 0;
  const double r = static_cast<double>(phase) / length;
  double f = reversed ? (1.0 - r) * count - 1.0 : static_cast<double>(phase) * count / length - 1.0;

  const int start = player.StartFrameNum, end = player.EndFrameNum;
  if (start < end && (start > 0 || end > 0)) {
    const double span = std::fabs(static_cast<double>(end) - start);
    f = start + span * (reversed ? 1.0 - r : r) - 1.0;
    if (std::trunc(f) < start) f = start;
    if (std::trunc(f) > end) f = end;
  }
  if (f < 0.0) f = 0.0;
  if (f >= count) f = count - 1.0;
  player.frame_no = f;
}

void GestureStep() {
  recog.rv = 0.0;
  RunEngineFrame(control.LearnGesture, LatestGrayFrame());
  SumLearningMotion();

  const int g = recog.JudgedGesture;
  const bool teaching = control.LearnGesture >= 0;
  // The taught motion has ended: from the next cycle on the frames are recognised again.
  if (teaching && g == control.LearnGesture && recog.PHASE == -1) control.LearnGesture = -1;
  if (g < 0 || g >= kGestures) return;

  // Judgements of a motion being taught or reviewed say nothing about the limit.
  if (!LearningRuns() && !teaching) AdaptOkLimit(g);
  MapPhaseToFrame();
}

std::string GestureGauge(int phase, int length, int accel, int width, int speed) {
  std::string s(103, '.');
  s[0] = '|';
  s[static_cast<size_t>(GaugeCell(phase * 18.0 / length))] = '#';
  s[19] = ' ';
  s[30] = '|';
  s[static_cast<size_t>(20 + GaugeCell(accel * 1.5 + 10.0))] = '#';
  s[39] = ' ';
  s[40] = '|';
  s[static_cast<size_t>(40 + GaugeCell(width * 0.18))] = '#';
  s[59] = ' ';
  s[70] = '|';
  s[static_cast<size_t>(60 + GaugeCell(speed * 0.09 + 10.0))] = '#';
  s[79] = ' ';
  s[80] = '|';
  s[81] = '#';
  s[101] = '|';
  s[102] = ' ';
  return s;
}

void GestureStatus() {
  if (LearningRuns() || control.MonitorMode <= 0) return;
  // Positions are kept within the content here; anything else is shown as -1, never cast.
  const double fn = player.frame_no;
  const int frame = fn > -1.0 && fn < static_cast<double>(kMaxFrames) ? static_cast<int>(fn) : -1;
  if (recog.PHASE > 0 && control.MonitorMode == 2) {
    if (player.PreviewMode == 1 && player.CameraOn != 0) return;
    std::string bar(65, '.');
    const double at = player.frame_no / (player.MaxCount - 1.0) * 65.0;
    for (int i = 0; i < 65; ++i)
      if (at > i) bar[static_cast<size_t>(i)] = '#';
    std::printf("[%5d/%5d]%s\n", frame, player.MaxCount, bar.c_str());
  } else if (recog.PHASE > 0 && control.MonitorMode == 1) {
    const std::string gauge =
        GestureGauge(recog.PHASE, recog.JudgedLength, recog.ACCEL, recog.WIDTH, recog.SPEED);
    std::printf("[%5d/%5d] %s\n", frame, player.MaxCount, gauge.c_str());
  }
  if (recog.PHASE == -1) {
    std::printf("[%s]   rv=%5d   rt= %5.3f   PHASE=%4d   SPEED=%4d   ACCEL=%3d   WIDTH=%3d   INP_FNUM=%4d\n",
                recog.JudgedName + 1, static_cast<int>(recog.rv), recog.rt, -1, recog.SPEED, recog.ACCEL,
                recog.WIDTH, recog.INP_FNUM);
  }
}

}  // namespace orv
