// Key-frame step: frames that playback keeps returning to become key frames, or make the
// player jump along the key-frame ring.
#include <algorithm>
#include <climits>
#include <cstdio>

#include "common/limits.h"
#include "player/player_state.h"
#include "player/display_step.h"

namespace orv {

namespace {

constexpr double kRevisitThreshold = 5.0;
constexpr double kDecay = 1.0 / 30.0;

// (int) of a position that may come from a file; out-of-range values give -1 instead of UB.
int FrameOf(double x) {
  if (!(x > static_cast<double>(INT_MIN) && x < static_cast<double>(INT_MAX))) return -1;
  return static_cast<int>(x);
}

double KeyFrameSum() {
  double sum = 0.0;
  for (double v : player.KeyFrameNumber) sum += v;
  return sum;
}

void ClearScores() {
  player.FrameMotion.fill(0.0);
  player.ScoreLow = player.ScoreHigh = 0;
}

void JumpAlongRing(int step) {
  if (!(KeyFrameSum() > 0.0)) return;
  int idx = ((player.KeyFrameIndex % kKeyFrames) + kKeyFrames) % kKeyFrames;
  // The sum is above 0, so some entry is; one lap is enough to find it.
  for (int n = 0; n < kKeyFrames; ++n) {
    idx = (idx + step + kKeyFrames) % kKeyFrames;
    player.frame_no = player.KeyFrameNumber[static_cast<size_t>(idx)];
    if (player.PlayerMode == 0 && player.frame_no > 0.0) {
      player.RedrawMark = -1.0;
      player.StartFrameNum = std::max(0, FrameOf(player.frame_no - 22000.0));
      player.EndFrameNum = std::min(player.MaxCount - 1, FrameOf(player.frame_no + 22000.0));
      std::printf("SET REPLAY PERIOD : [ %6d ] <-> [%6d]\n", player.StartFrameNum, player.EndFrameNum);
    }
    if (player.frame_no > 0.0) break;
  }
  player.KeyFrameIndex = idx;
  player.Direction = 1;
}

}  // namespace

void ScoreKeyFrames() {
  if (player.MotionCountOff == 0) return;
  auto& score = player.FrameMotion;

  int lo = std::clamp(player.ScoreLow, 0, kMaxFrames);
  int hi = std::clamp(player.ScoreHigh, lo, kMaxFrames);
  for (int i = lo; i < hi; ++i) {
    double& v = score[static_cast<size_t>(i)];
    v -= kDecay;
    if (v < 0.0) v = 0.0;
  }
  while (lo < hi && score[static_cast<size_t>(lo)] == 0.0) ++lo;
  while (hi > lo && score[static_cast<size_t>(hi - 1)] == 0.0) --hi;

  const int f = FrameOf(player.frame_no);
  if (f != FrameOf(player.ScorePrevFrame)) {
    if (f >= 0 && f < kMaxFrames) {
      score[static_cast<size_t>(f)] += 1.0;
      if (lo == hi) {
        lo = f, hi = f + 1;
      } else {
        lo = std::min(lo, f), hi = std::max(hi, f + 1);
      }
    }
    player.ScorePrevFrame = player.frame_no;
  }
  player.ScoreLow = lo, player.ScoreHigh = hi;

  // Everything outside the range is 0, so the first maximum lies inside it.
  double best = 0.0;
  int k = 0;
  for (int i = lo; i < hi; ++i) {
    if (score[static_cast<size_t>(i)] > best) best = score[static_cast<size_t>(i)], k = i;
  }
  if (!(best > kRevisitThreshold)) return;

  if (player.KeyFrameMode >= 2) player.StartFrameNum = player.EndFrameNum = 0;
  ClearScores();
  switch (player.KeyFrameMode) {
    case 1: {
      player.KeyFrameIndex = ((player.KeyFrameIndex % kKeyFrames) + kKeyFrames) % kKeyFrames;
      player.KeyFrameNumber[static_cast<size_t>(player.KeyFrameIndex)] = static_cast<double>(k);
      std::printf("SET CURRENT frame_no to KeyFrameNumber[ %d ] = %f.\n", player.KeyFrameIndex,
                  static_cast<double>(k));
      player.KeyFrameIndex = (player.KeyFrameIndex + 1) % kKeyFrames;
      std::printf("KeyFrameNumber[ %d ] = %f\n", player.KeyFrameIndex,
                  player.KeyFrameNumber[static_cast<size_t>(player.KeyFrameIndex)]);
      break;
    }
    case 2:
    case 4:
      JumpAlongRing(+1);
      break;
    case 3:
      JumpAlongRing(-1);
      break;
    default:
      break;
  }
}

}  // namespace orv
