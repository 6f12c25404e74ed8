// Stepping rules, moves, bursts and idle actions of the motion player.
#include <gtest/gtest.h>

#include "../control/player_fixture.h"
#include "player/player_state.h"
#include "player/player.h"

using namespace orv;

namespace {

class Stepping : public orvtest::PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    player.MaxCount = 100;
    player.PlayState = 1;
    player.KeyFrameMode = 0;  // no idle handling unless a test asks for it
    player.AutoJumpFlag = 0;
    player.VR_step = 1.0;
    player.PrevDirection = 1;
    player.VR_threshold = 1000;
  }
  void CameraOn() { player.BurstFlip = 3, player.BurstReset = 1; }
  void Step(int d, int times = 1) {
    for (int i = 0; i < times; ++i) {
      player.DifferenceSum = d;
      StepPlayer();
    }
  }
};

TEST_F(Stepping, BurstOfFiveReversesAndRestarts) {
  CameraOn();
  Step(2000, 5);
  EXPECT_DOUBLE_EQ(player.frame_no, 5.0);
  EXPECT_EQ(player.Direction, 1);
  Step(500);  // quiet but not still: the burst ends
  EXPECT_EQ(player.Direction, 0);
  EXPECT_EQ(player.BurstCount, 0);
  EXPECT_DOUBLE_EQ(player.frame_no, 5.0);
  Step(2000);  // now moving backward
  EXPECT_DOUBLE_EQ(player.frame_no, 4.0);
}

TEST_F(Stepping, ShortBurstsAreDroppedAndSingleCyclesCarried) {
  CameraOn();
  Step(2000, 3);
  Step(500);
  EXPECT_EQ(player.Direction, 1);
  EXPECT_EQ(player.BurstCount, 0);

  Step(2000);
  Step(500);  // a single cycle is carried into the next burst
  EXPECT_EQ(player.BurstCount, 1);
  Step(0);  // no motion at all is not a burst end in state 1
  EXPECT_EQ(player.BurstCount, 1);
  Step(2000, 3);
  Step(500);  // 1 + 3 = 4 > 3
  EXPECT_EQ(player.Direction, 0);
}

TEST_F(Stepping, CameraOffNeedsLongerBursts) {
  player.BurstFlip = 5, player.BurstReset = 2;
  Step(2000, 5);
  Step(500);
  EXPECT_EQ(player.Direction, 1);
  EXPECT_EQ(player.BurstCount, 0);
  Step(2000, 6);
  Step(500);
  EXPECT_EQ(player.Direction, 0);
}

TEST_F(Stepping, MovesWrapOrStopAtTheEnds) {
  player.frame_no = 99.5;
  MoveForward(1.0);
  EXPECT_DOUBLE_EQ(player.frame_no, 0.0);
  player.frame_no = 0.5;
  MoveBackward(1.0);
  EXPECT_DOUBLE_EQ(player.frame_no, 99.0);

  player.WrapFlag = 0;
  player.frame_no = 99.5;
  MoveForward(1.0);
  EXPECT_DOUBLE_EQ(player.frame_no, 99.0);
  player.frame_no = 0.5;
  MoveBackward(1.0);
  EXPECT_DOUBLE_EQ(player.frame_no, 0.0);
  player.frame_no = 98.2;
  MoveForward(1.5);
  EXPECT_DOUBLE_EQ(player.frame_no, 99.7);  // still inside: no clamp

  // A step from a parameter file far beyond any int still lands on the last frame.
  player.frame_no = 5.0;
  MoveForward(1e300);
  EXPECT_DOUBLE_EQ(player.frame_no, 99.0);
  player.WrapFlag = 1;
  player.frame_no = 5.0;
  MoveForward(1e300);
  EXPECT_DOUBLE_EQ(player.frame_no, 0.0);
}

TEST_F(Stepping, SpeedDrivenStateScalesWithMotion) {
  player.PlayState = 2;
  Step(3000);  // 3000 / 1000 - 0.5
  EXPECT_DOUBLE_EQ(player.frame_no, 2.5);
  EXPECT_EQ(player.BurstCount, 1);
  Step(100000);  // limited to 10
  EXPECT_DOUBLE_EQ(player.frame_no, 12.5);
  Step(1001);  // 0.501
  EXPECT_NEAR(player.frame_no, 13.001, 1e-9);

  player.VR_threshold = 0;  // infinite quotient, limited
  Step(1);
  EXPECT_NEAR(player.frame_no, 23.001, 1e-9);

  player.VR_threshold = 1000;
  player.BurstCount = 6;
  Step(-5);  // negative motion ends the burst in this state
  EXPECT_EQ(player.Direction, 0);
  Step(0);  // zero does nothing
  EXPECT_EQ(player.Direction, 0);
}

TEST_F(Stepping, MoveWhileMovingAndAlwaysMovingStates) {
  player.PlayState = 3;
  Step(0);
  Step(-3);
  Step(500);  // 0 < D <= T: stands
  Step(2000);
  EXPECT_DOUBLE_EQ(player.frame_no, 3.0);
  EXPECT_EQ(player.BurstCount, 0);

  player.PlayState = 4;
  CameraOn();
  Step(2000, 4);
  EXPECT_DOUBLE_EQ(player.frame_no, 7.0);
  Step(0);  // burst end reverses, then moves in the new direction
  EXPECT_EQ(player.Direction, 0);
  EXPECT_DOUBLE_EQ(player.frame_no, 6.0);
}

TEST_F(Stepping, ContinuousPlayFollowsAutoPlayDirection) {
  player.PlayState = 5;
  Step(0, 3);
  EXPECT_DOUBLE_EQ(player.frame_no, 3.0);
  player.AutoPlayDirection = 0;
  Step(0, 4);
  EXPECT_DOUBLE_EQ(player.frame_no, 99.0);
  player.AutoPlayDirection = 7;
  Step(0);
  EXPECT_DOUBLE_EQ(player.frame_no, 99.0);
  player.PlayState = 9;  // unknown state: no stepping
  Step(5000);
  EXPECT_DOUBLE_EQ(player.frame_no, 99.0);
}

TEST_F(Stepping, IdleContinuousPlayUntilNextMotion) {
  player.KeyFrameMode = 1;
  Step(0, 120);
  EXPECT_EQ(player.PlayState, 1);
  EXPECT_EQ(player.IdleCount, 120);
  EXPECT_DOUBLE_EQ(player.frame_no, 0.0);
  Step(0);
  EXPECT_EQ(player.PlayState, 5);
  EXPECT_EQ(player.IdleCount, 0);
  Step(0, 3);
  EXPECT_DOUBLE_EQ(player.frame_no, 3.0);
  Step(2000);  // moves once more in state 5, then motion takes over
  EXPECT_EQ(player.PlayState, 1);
  EXPECT_DOUBLE_EQ(player.frame_no, 4.0);
  Step(0);
  EXPECT_DOUBLE_EQ(player.frame_no, 4.0);
}

TEST_F(Stepping, IdleGoesToCurrentOrNextKeyFrame) {
  player.KeyFrameNumber[0] = 10.0;
  player.KeyFrameNumber[1] = 50.0;
  player.IdleLimit = 0;
  player.Direction = 0;
  player.PrevDirection = 0;

  player.KeyFrameMode = 2;
  player.StartFrameNum = 5, player.EndFrameNum = 60;
  Step(0);
  EXPECT_DOUBLE_EQ(player.frame_no, 10.0);
  EXPECT_EQ(player.Direction, 1);
  EXPECT_EQ(player.EndFrameNum, 60);  // mode 2 keeps the replay period

  player.KeyFrameMode = 3;
  Step(0);
  EXPECT_DOUBLE_EQ(player.frame_no, 50.0);
  EXPECT_EQ(player.KeyFrameIndex, 1);
  EXPECT_EQ(player.StartFrameNum, 0);
  EXPECT_EQ(player.EndFrameNum, 0);
  Step(0);  // skips the empty entries and wraps round to entry 0
  EXPECT_DOUBLE_EQ(player.frame_no, 10.0);
  EXPECT_EQ(player.KeyFrameIndex, 0);
}

TEST_F(Stepping, IdleRandomKeyFrameAdvancesNPlusOneTimes) {
  for (int i = 0; i < 10; ++i) player.KeyFrameNumber[static_cast<size_t>(i)] = 10.0 * (i + 1);
  player.KeyFrameMode = 4;
  player.IdleLimit = 0;
  player.StartFrameNum = 3, player.EndFrameNum = 30;
  for (int round = 0; round < 5; ++round) {
    std::mt19937 predict = player.Random;
    const int from = player.KeyFrameIndex;
    const int n = static_cast<int>(predict() & 0x7fffffffu) % 10;
    Step(0);
    const int to = (from + n + 1) % 10;
    EXPECT_EQ(player.KeyFrameIndex, to);
    EXPECT_DOUBLE_EQ(player.frame_no, 10.0 * (to + 1));
    EXPECT_EQ(player.StartFrameNum, 0);
  }
}

TEST_F(Stepping, IdleActionsWithoutKeyFramesOrWithBadRingIndex) {
  player.KeyFrameMode = 3;
  player.IdleLimit = 0;
  player.frame_no = 7.0;
  Step(0);
  EXPECT_DOUBLE_EQ(player.frame_no, 7.0);

  // A ring index from a parameter file is kept inside the ring.
  player.KeyFrameNumber[3] = 30.0;
  player.KeyFrameIndex = 5000;
  player.KeyFrameMode = 2;
  Step(0);
  EXPECT_GE(player.KeyFrameIndex, 0);
  EXPECT_LT(player.KeyFrameIndex, kKeyFrames);
  player.KeyFrameIndex = -7;
  player.KeyFrameMode = 3;
  Step(0);
  EXPECT_DOUBLE_EQ(player.frame_no, 30.0);
  EXPECT_EQ(player.KeyFrameIndex, 3);
}

}  // namespace
