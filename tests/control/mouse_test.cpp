// Mouse buttons become pending command keys.
#include <gtest/gtest.h>

#include <opencv2/highgui.hpp>

#include "control/control.h"
#include "player/player_state.h"

using namespace orv;

namespace {

TEST(Mouse, ButtonsBecomeKeysWithBellForRightAndMiddle) {
  struct Case {
    int event;
    int key;
    const char* out;
  } cases[] = {{cv::EVENT_LBUTTONDOWN, 'e', ""}, {cv::EVENT_RBUTTONDOWN, 'q', "\a\n"},
               {cv::EVENT_MBUTTONDOWN, 'j', "\a\n"}};
  for (const auto& c : cases) {
    for (int before : {0, -3}) {  // zero and negative both count as free
      player.PendingKey = before;
      testing::internal::CaptureStdout();
      OnMouse(c.event, 10, 20, 0, nullptr);
      EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
      EXPECT_EQ(player.PendingKey, c.key);
    }
  }
}

TEST(Mouse, PressWhileKeyPendingIsDroppedAndMovesNeverSetKeys) {
  player.PendingKey = 'x';
  testing::internal::CaptureStdout();
  OnMouse(cv::EVENT_LBUTTONDOWN, 0, 0, 0, nullptr);
  OnMouse(cv::EVENT_RBUTTONDOWN, 0, 0, 0, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(player.PendingKey, 'x');

  player.PendingKey = 0;
  for (int ev : {cv::EVENT_MOUSEMOVE, cv::EVENT_LBUTTONUP, cv::EVENT_RBUTTONUP, cv::EVENT_LBUTTONDBLCLK,
                 cv::EVENT_MOUSEWHEEL})
    OnMouse(ev, 5, 5, 0, nullptr);
  EXPECT_EQ(player.PendingKey, 0);
}

}  // namespace
