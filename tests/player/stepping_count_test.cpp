// Direction changes: motion count read-out, random jump requests, two-frame content,
// and the mirror of the cached frame while the frame step is zero.
#include <gtest/gtest.h>

#include <climits>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "../control/player_fixture.h"
#include "common/display.h"
#include "player/player_state.h"
#include "player/player.h"

using namespace orv;

namespace {

class DirectionChange : public orvtest::PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    player.MaxCount = 100;
    player.PlayState = 0;  // no stepping: the tests turn the direction themselves
    player.KeyFrameMode = 0;
    player.AutoJumpFlag = 0;
    player.PrevDirection = 1;
  }
  void Reverse() {
    player.Direction = player.Direction == 1 ? 0 : 1;
    StepPlayer();
  }
  static double MaxDiff(const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_INF); }
};

// Rows of the banner, from the glyph table written out by hand.
std::string ExpectedBanner(const std::string& digits) {
  static const char* kRows[10][8] = {
      {"  OOOO  ", " O    O ", "O      O", "O      O", "O      O", "O      O", " O    O ", "  OOOO  "},
      {"   O    ", "  OO    ", "   O    ", "   O    ", "   O    ", "   O    ", "   O    ", "  OOO   "},
      {"  OOOO  ", " O    O ", " O   O  ", "    O   ", "   O    ", "  O     ", " O      ", " OOOOOO "},
      {"  OOOO  ", " O    O ", "     O  ", "   OO   ", "     O  ", "      O ", " O    O ", "  OOOO  "},
      {" O   O  ", " O   O  ", " O   O  ", " O   O  ", " OOOOOO ", "     O  ", "     O  ", "     O  "},
      {" OOOOOO ", " O      ", " O      ", " OOOOO  ", "      O ", "      O ", " O    O ", "  OOOO  "},
      {"  OOOO  ", " O    O ", " O      ", " OOOOO  ", " O    O ", " O    O ", " O    O ", "  OOOO  "},
      {" OOOOOO ", " O    O ", "      O ", "     O  ", "    O   ", "   O    ", "  O     ", " O      "},
      {"  OOOO  ", " O    O ", " O    O ", "  OOOO  ", " O    O ", " O    O ", " O    O ", "  OOOO  "},
      {"  OOOO  ", " O    O ", " O    O ", " O    O ", "  OOOOO ", "      O ", " O    O ", "  OOOO  "},
  };
  std::string out;
  for (int r = 0; r < 8; ++r) {
    std::string row = " ";
    for (char d : digits) row += std::string(kRows[d - '0'][r]) + " ";
    row.resize(80, ' ');
    out += row + "\n";
  }
  return out + "\n";
}

TEST_F(DirectionChange, CountSixToSevenPrintsLineAndBigDigits) {
  player.MotionCountOff = 0;
  player.motion_count = 6;
  testing::internal::CaptureStdout();
  Reverse();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(player.motion_count, 7);
  EXPECT_EQ(out, "\a [ MOTION COUNT =        7 ]\n" + ExpectedBanner("00000007"));

  player.BELL_FLAG = 0;
  player.motion_count = 12345677;
  testing::internal::CaptureStdout();
  Reverse();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            " [ MOTION COUNT = 12345678 ]\n" + ExpectedBanner("12345678"));
  testing::internal::CaptureStdout();
  StepPlayer();  // same direction: nothing counted
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(player.motion_count, 12345678);

  // Nine digits keep their last eight; the largest count starts again at 0, not below it.
  player.motion_count = 123456788;
  testing::internal::CaptureStdout();
  Reverse();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            " [ MOTION COUNT = 123456789 ]\n" + ExpectedBanner("23456789"));
  player.motion_count = INT_MAX;
  testing::internal::CaptureStdout();
  Reverse();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            " [ MOTION COUNT =        0 ]\n" + ExpectedBanner("00000000"));
}

TEST_F(DirectionChange, CountingOffCountsNothing) {
  testing::internal::CaptureStdout();
  Reverse();
  Reverse();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(player.motion_count, 0);
}

TEST_F(DirectionChange, RandomJumpRequestFollowsTheGenerator) {
  player.AutoJumpFlag = 1;
  const char expectKey[] = {0, 0, 'x', 'z', 'j'};
  int requests = 0;
  for (int mode = 2; mode <= 4; ++mode) {
    player.KeyFrameMode = mode;
    for (int i = 0; i < 200; ++i) {
      player.PendingKey = 0;
      std::mt19937 predict = player.Random;
      const bool jump = static_cast<int>(predict() & 0x7fffffffu) % 1000 < 50;
      Reverse();
      ASSERT_EQ(player.PendingKey, jump ? expectKey[mode] : 0) << "mode " << mode << " change " << i;
      requests += jump;
    }
  }
  EXPECT_GT(requests, 0);

  // Blocked by a frame step, a shifted image, the flag, or an idle mode without jumps.
  for (auto block : {0, 1, 2, 3}) {
    player.KeyFrameMode = 4, player.VR_step = 0.0, player.ImageShift = 0, player.AutoJumpFlag = 1;
    if (block == 0) player.VR_step = 0.5;
    if (block == 1) player.ImageShift = -2;
    if (block == 2) player.AutoJumpFlag = 0;
    if (block == 3) player.KeyFrameMode = 1;
    player.Random.seed(7);
    for (int i = 0; i < 200; ++i) {
      player.PendingKey = 0;
      Reverse();
      ASSERT_EQ(player.PendingKey, 0) << "block " << block;
    }
  }
}

TEST_F(DirectionChange, ZeroStepMirrorsTheCachedFrameAtEachChange) {
  UseContent(5);
  player.frame_no = 2.4;
  ASSERT_TRUE(EnsureFrameLoaded(2));
  const cv::Mat original = FrameImages[2].clone();
  cv::Mat mirrored;
  cv::flip(original, mirrored, 1);
  ASSERT_GT(MaxDiff(original, mirrored), 0.0);

  Reverse();
  EXPECT_EQ(MaxDiff(FrameImages[2], mirrored), 0.0);
  EXPECT_EQ(MaxDiff(display.hd.shown[kPlayerWindow], mirrored), 0.0);
  Reverse();
  EXPECT_EQ(MaxDiff(FrameImages[2], original), 0.0);
  EXPECT_EQ(MaxDiff(display.hd.shown[kPlayerWindow], original), 0.0);

  const long shows = display.hd.showCount;
  StepPlayer();  // no change, no mirror
  player.VR_step = 0.25;
  Reverse();  // moving player: no mirror
  EXPECT_EQ(display.hd.showCount, shows);
  EXPECT_EQ(MaxDiff(FrameImages[2], original), 0.0);

  player.VR_step = 0.0;
  ReleaseFrameCache();
  Reverse();  // nothing cached: nothing to mirror or show
  EXPECT_EQ(display.hd.showCount, shows);
}

TEST_F(DirectionChange, TwoFrameContentLoadsTheFrameOfTheDirection) {
  UseContent(2);
  player.VR_step = 0.5;
  player.Direction = 1, player.PrevDirection = 0;
  StepPlayer();
  EXPECT_EQ(FrameData[1].loaded, 1);
  EXPECT_FALSE(FrameImages[1].empty());
  player.Direction = 0;
  StepPlayer();
  EXPECT_EQ(FrameData[0].loaded, 1);

  // A frame that cannot be loaded ends the call before the mirror.
  ReleaseFrameCache();
  ASSERT_TRUE(EnsureFrameLoaded(0));
  std::snprintf(FrameData[1].path, kNameSize, "%s", "../S001/missing.jpg");
  player.VR_step = 0.0;
  player.frame_no = 0.0;
  const cv::Mat before = FrameImages[0].clone();
  player.Direction = 1;
  StepPlayer();
  EXPECT_EQ(FrameData[1].loaded, 0);
  EXPECT_EQ(MaxDiff(FrameImages[0], before), 0.0);
}

}  // namespace
