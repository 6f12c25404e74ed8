// Motion player: turns the motion of each cycle into a move of frame_no, reverses after
// bursts, acts on long quiet times and counts direction changes.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <opencv2/core.hpp>

#include "common/display.h"
#include "common/platform.h"
#include "player/player_state.h"
#include "player/player.h"

namespace orv {

// Eight rows per digit 0..9, most significant bit = leftmost column.
const std::array<std::array<uint8_t, 8>, 10> DigitGlyphs = {{
    {0x3C, 0x42, 0x81, 0x81, 0x81, 0x81, 0x42, 0x3C},
    {0x10, 0x30, 0x10, 0x10, 0x10, 0x10, 0x10, 0x38},
    {0x3C, 0x42, 0x44, 0x08, 0x10, 0x20, 0x40, 0x7E},
    {0x3C, 0x42, 0x04, 0x18, 0x04, 0x02, 0x42, 0x3C},
    {0x44, 0x44, 0x44, 0x44, 0x7E, 0x04, 0x04, 0x04},
    {0x7E, 0x40, 0x40, 0x7C, 0x02, 0x02, 0x42, 0x3C},
    {0x3C, 0x42, 0x40, 0x7C, 0x42, 0x42, 0x42, 0x3C},
    {0x7E, 0x42, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40},
    {0x3C, 0x42, 0x42, 0x3C, 0x42, 0x42, 0x42, 0x3C},
    {0x3C, 0x42, 0x42, 0x42, 0x3E, 0x02, 0x42, 0x3C},
}};

bool EndBurst(int* count, int flip, int reset) {
  const bool turns = *count > flip;
  if (*count > reset) *count = 0;
  return turns;
}

std::vector<int> TurningBursts(const std::vector<int>& sums, int threshold) {
  std::vector<int> lengths;
  int count = 0;
  for (int d : sums) {
    if (d <= 0) continue;
    if (d > threshold) {
      ++count;
    } else {
      const int length = count;
      if (EndBurst(&count, kBurstFlipCameraOn, kBurstResetCameraOn)) lengths.push_back(length);
    }
  }
  return lengths;
}

namespace {

int KeyRingIndex(int i) {
  // The ring position can come from a parameter file: keep it inside the ring.
  return ((i % kKeyFrames) + kKeyFrames) % kKeyFrames;
}

double KeyFrameSum() {
  double sum = 0.0;
  for (double v : player.KeyFrameNumber) sum += v;
  return sum;
}

// Moves the ring to the next entry above 0 and puts frame_no there. Only called when
// the key-frame sum is above 0, so such an entry exists; the bound is a safety net.
void NextKeyFrame() {
  int idx = KeyRingIndex(player.KeyFrameIndex);
  for (int n = 0; n < kKeyFrames; ++n) {
    idx = (idx + 1) % kKeyFrames;
    if (player.KeyFrameNumber[static_cast<size_t>(idx)] > 0.0) break;
  }
  player.KeyFrameIndex = idx;
  player.frame_no = player.KeyFrameNumber[static_cast<size_t>(idx)];
}

void MoveInDirection(double s) {
  if (player.Direction == 1)
    MoveForward(s);
  else if (player.Direction == 0)
    MoveBackward(s);
}

void BurstEnd() {
  if (EndBurst(&player.BurstCount, player.BurstFlip, player.BurstReset))
    player.Direction = player.Direction == 1 ? 0 : 1;
}

void StepByState(int d, int t) {
  switch (player.PlayState) {
    case 1:
      if (d <= 0) break;
      if (d > t) {
        ++player.BurstCount;
        MoveInDirection(player.VR_step);
      } else {
        BurstEnd();
      }
      break;
    case 2:
      if (d == 0) break;
      if (d > t) {
        ++player.BurstCount;
        // A zero threshold gives an infinite quotient, which the limit turns into 10.
        double s = static_cast<double>(d) / static_cast<double>(t) - 0.5;
        s = std::clamp(s, 0.0, 10.0);
        MoveInDirection(s);
      } else {
        BurstEnd();
      }
      break;
    case 3:
      if (d <= 0 || d > t) MoveInDirection(player.VR_step);
      break;
    case 4:
      if (d > t)
        ++player.BurstCount;
      else
        BurstEnd();
      MoveInDirection(player.VR_step);
      break;
    case 5:
      if (player.AutoPlayDirection == 1)
        MoveForward(player.VR_step);
      else if (player.AutoPlayDirection == 0)
        MoveBackward(player.VR_step);
      break;
    default:
      break;
  }
}

void IdleAction() {
  switch (player.KeyFrameMode) {
    case 1:
      player.PlayState = 5;
      break;
    case 2:
      if (KeyFrameSum() > 0.0) {
        player.KeyFrameIndex = KeyRingIndex(player.KeyFrameIndex);
        player.frame_no = player.KeyFrameNumber[static_cast<size_t>(player.KeyFrameIndex)];
        player.Direction = 1;
      }
      break;
    case 3:
      player.StartFrameNum = player.EndFrameNum = 0;
      if (KeyFrameSum() > 0.0) {
        NextKeyFrame();
        player.Direction = 1;
      }
      break;
    case 4:
      player.StartFrameNum = player.EndFrameNum = 0;
      if (KeyFrameSum() > 0.0) {
        const int n = RandomNumber() % 10;
        for (int i = 0; i <= n; ++i) NextKeyFrame();
        player.Direction = 1;
      }
      break;
    default:
      break;
  }
}

void PrintMotionCount() {
  if (player.BELL_FLAG) Bell();
  // An installation that runs for years must not overflow the count: after the largest
  // int it starts again at 0.
  player.motion_count = player.motion_count < INT_MAX ? player.motion_count + 1 : 0;
  std::printf(" [ MOTION COUNT = %8d ]\n", player.motion_count);

  char digits[16] = {};
  std::snprintf(digits, sizeof digits, "%8d", player.motion_count);
  const int len = static_cast<int>(std::strlen(digits));  // the bytes after the end mark are not digits
  for (int i = 0; i < len; ++i)
    if (digits[i] == ' ') digits[i] = '0';

  auto& banner = player.MotionBanner;
  for (auto& row : banner) {
    std::memset(row, ' ', sizeof row);
    row[80] = '\n';
    row[81] = '\0';
  }
  // Counts above eight digits keep their last eight on the banner.
  for (int i = 0; i < 8; ++i) {
    const char ch = digits[len - 8 + i];
    if (ch < '0' || ch > '9') continue;
    const auto& glyph = DigitGlyphs[static_cast<size_t>(ch - '0')];
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) banner[r][1 + 9 * i + c] = (glyph[static_cast<size_t>(r)] & (0x80 >> c)) ? 'O' : ' ';
  }
  for (int r = 0; r < 8; ++r) std::printf("%s", banner[r]);
  std::printf("\n");
}

}  // namespace

void MoveForward(double s) {
  player.frame_no += s;
  // trunc compares the integer part without an int conversion that a huge step would overflow.
  if (std::trunc(player.frame_no) >= static_cast<double>(player.MaxCount))
    player.frame_no = player.WrapFlag ? 0.0 : static_cast<double>(player.MaxCount - 1);
}

void MoveBackward(double s) {
  player.frame_no -= s;
  if (player.frame_no < 0.0) player.frame_no = player.WrapFlag ? static_cast<double>(player.MaxCount - 1) : 0.0;
}

void StepPlayer() {
  const int d = player.DifferenceSum;
  const int t = player.VR_threshold;

  StepByState(d, t);

  if (player.KeyFrameMode != 0) {
    if (d > t) {
      player.PlayState = 1;
      player.IdleCount = 0;
    } else {
      ++player.IdleCount;
    }
    if (player.IdleCount > player.IdleLimit) {
      IdleAction();
      player.IdleCount = 0;
    }
  }

  if (player.Direction == player.PrevDirection) return;
  player.PrevDirection = player.Direction;

  if (player.MotionCountOff == 0) PrintMotionCount();

  if (player.VR_step == 0.0 && player.AutoJumpFlag && player.ImageShift == 0) {
    static constexpr char kJumpKey[] = {0, 0, 'x', 'z', 'j'};
    if (player.KeyFrameMode >= 2 && player.KeyFrameMode <= 4 && RandomNumber() % 1000 < 50)
      player.PendingKey = kJumpKey[player.KeyFrameMode];
  }

  if (player.MaxCount == 2) {
    if (!EnsureFrameLoaded(player.Direction)) return;
    // These polls only keep the window served: a key typed now is left to the loop's poll.
    DisplayServeEvents(1);
    DisplayServeEvents(1);
  }

  const int f = CurrentFrame();
  if (player.VR_step == 0.0 && f >= 0 && FrameData[static_cast<size_t>(f)].loaded == 1 &&
      !FrameImages[static_cast<size_t>(f)].empty()) {
    cv::Mat& img = FrameImages[static_cast<size_t>(f)];
    DisplayServeEvents(1);
    cv::flip(img, img, 1);
    DisplayShow(kPlayerWindow, img);
    DisplayServeEvents(1);
  }
}

}  // namespace orv
