// Key-frame step: revisit scores, the threshold and the record / jump actions.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "../control/player_fixture.h"
#include "player/player_state.h"
#include "player/display_step.h"

using namespace orv;

namespace {

class KeyFrames : public orvtest::PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    player.MaxCount = 100;
  }
};

TEST_F(KeyFrames, AlternationCrossesThresholdOnSixthArrival) {
  player.KeyFrameMode = 1;
  player.KeyFrameIndex = 1279;
  testing::internal::CaptureStdout();
  int cycle = 0;
  for (; cycle < 40; ++cycle) {
    player.frame_no = cycle % 2 == 0 ? 40.0 : 41.0;
    ScoreKeyFrames();
    if (player.KeyFrameIndex != 1279) break;
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(cycle, 10);  // the sixth arrival at frame 40 (6 - 10/30 > 5; 5 - 8/30 is not)
  EXPECT_DOUBLE_EQ(player.KeyFrameNumber[1279], 40.0);
  EXPECT_EQ(player.KeyFrameIndex, 0);
  EXPECT_EQ(out,
            "SET CURRENT frame_no to KeyFrameNumber[ 1279 ] = 40.000000.\n"
            "KeyFrameNumber[ 0 ] = 0.000000\n");
  EXPECT_TRUE(std::all_of(player.FrameMotion.begin(), player.FrameMotion.end(), [](double v) { return v == 0.0; }));
}

TEST_F(KeyFrames, StandingStillNeverScores) {
  player.KeyFrameMode = 1;
  player.frame_no = 12.9;
  ScoreKeyFrames();
  for (int i = 0; i < 100; ++i) {
    player.frame_no = i % 2 ? 12.2 : 12.7;  // same frame
    ScoreKeyFrames();
  }
  EXPECT_DOUBLE_EQ(player.FrameMotion[12], 0.0);
  EXPECT_DOUBLE_EQ(player.KeyFrameNumber[0], 0.0);
}

TEST_F(KeyFrames, PreviousModeWrapsAndWalksBack) {
  player.KeyFrameMode = 3;
  player.KeyFrameNumber[5] = 77.0;
  player.StartFrameNum = 3, player.EndFrameNum = 9;
  player.FrameMotion[3] = 6.0;
  player.frame_no = 0.0;
  player.Direction = 0;
  ScoreKeyFrames();
  EXPECT_EQ(player.KeyFrameIndex, 5);
  EXPECT_DOUBLE_EQ(player.frame_no, 77.0);
  EXPECT_EQ(player.Direction, 1);
  EXPECT_EQ(player.StartFrameNum, 0);
  EXPECT_EQ(player.EndFrameNum, 0);
  EXPECT_DOUBLE_EQ(player.FrameMotion[3], 0.0);
}

TEST_F(KeyFrames, GestureModeSetsReplayPeriodAroundKeyFrame) {
  player.PlayerMode = 0;
  player.KeyFrameMode = 2;
  player.KeyFrameNumber[2] = 30.0;
  player.FrameMotion[7] = 5.5;
  testing::internal::CaptureStdout();
  ScoreKeyFrames();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "SET REPLAY PERIOD : [      0 ] <-> [    99]\n");
  EXPECT_EQ(player.KeyFrameIndex, 2);
  EXPECT_DOUBLE_EQ(player.frame_no, 30.0);
  EXPECT_EQ(player.RedrawMark, -1.0);
  EXPECT_EQ(player.StartFrameNum, 0);
  EXPECT_EQ(player.EndFrameNum, 99);
}

TEST_F(KeyFrames, NextModeWithoutKeyFramesOnlyClears) {
  player.KeyFrameMode = 2;
  player.StartFrameNum = 3, player.EndFrameNum = 9;
  player.FrameMotion[50] = 6.0;
  player.FrameMotion[60] = 2.0;
  player.frame_no = 12.0;
  player.ScorePrevFrame = 12.0;
  testing::internal::CaptureStdout();
  ScoreKeyFrames();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_DOUBLE_EQ(player.frame_no, 12.0);
  EXPECT_EQ(player.KeyFrameIndex, 0);
  EXPECT_EQ(player.StartFrameNum, 0);
  EXPECT_EQ(player.EndFrameNum, 0);
  EXPECT_DOUBLE_EQ(player.FrameMotion[60], 0.0);
}

TEST_F(KeyFrames, NothingWhileMotionCountingIsOn) {
  player.MotionCountOff = 0;
  player.FrameMotion[50] = 6.0;
  player.frame_no = 3.0;
  ScoreKeyFrames();
  EXPECT_DOUBLE_EQ(player.FrameMotion[50], 6.0);
  EXPECT_DOUBLE_EQ(player.FrameMotion[3], 0.0);
}

// The step only touches the scores that can be non-zero; it must give exactly what the
// plain pass over all 22,000 scores gives.
TEST_F(KeyFrames, MatchesThePlainFullTablePass) {
  player.MaxCount = 22000;
  player.KeyFrameMode = 1;
  std::vector<double> ref(kMaxFrames, 0.0);
  double refPrev = 0.0;
  int refIndex = 0;
  std::vector<double> refKeys(kKeyFrames, 0.0);
  std::mt19937 rng(5);
  double pos = 100.0;
  for (int cycle = 0; cycle < 4000; ++cycle) {
    // Mostly small moves around a point, now and then a far jump to either end.
    const int r = static_cast<int>(rng() % 100);
    if (r < 3)
      pos = r == 0 ? 0.0 : r == 1 ? 21999.5 : static_cast<double>(rng() % 22000);
    else
      pos = std::clamp(pos + static_cast<double>(static_cast<int>(rng() % 7) - 3) * 0.6, 0.0, 21999.0);
    player.frame_no = pos;

    for (double& v : ref) {
      v -= 1.0 / 30.0;
      if (v < 0.0) v = 0.0;
    }
    if (static_cast<int>(pos) != static_cast<int>(refPrev)) {
      ref[static_cast<size_t>(pos)] += 1.0;
      refPrev = pos;
    }
    double best = ref[0];
    int k = 0;
    for (int i = 1; i < kMaxFrames; ++i)
      if (ref[static_cast<size_t>(i)] > best) best = ref[static_cast<size_t>(i)], k = i;
    if (best > 5.0) {
      std::fill(ref.begin(), ref.end(), 0.0);
      refKeys[static_cast<size_t>(refIndex)] = k;
      refIndex = (refIndex + 1) % kKeyFrames;
    }

    testing::internal::CaptureStdout();
    ScoreKeyFrames();
    testing::internal::GetCapturedStdout();
    for (int i = 0; i < kMaxFrames; i += 1)
      ASSERT_EQ(player.FrameMotion[static_cast<size_t>(i)], ref[static_cast<size_t>(i)]) << "cycle " << cycle;
  }
  EXPECT_GT(refIndex, 0);
  EXPECT_EQ(player.KeyFrameIndex, refIndex);
  for (int i = 0; i < refIndex; ++i) EXPECT_EQ(player.KeyFrameNumber[static_cast<size_t>(i)], refKeys[static_cast<size_t>(i)]);
}

}  // namespace
