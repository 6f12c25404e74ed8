// Frame commands: steps, replay period, image shift, mirror, random and first frame,
// window sizing, and the key merge with the mouse.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "player_fixture.h"
#include "control/control_state.h"
#include "common/display.h"
#include "player/player_state.h"
#include "control/control.h"
#include "control/osc_state.h"
#include "control/osc.h"
#include "player/display_step.h"

#include <lo/lo.h>

using namespace orv;

namespace {

class FrameCommands : public orvtest::PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    UseContent(30);
  }
  std::string Run(int key) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(DispatchKey(key));
    return testing::internal::GetCapturedStdout();
  }
  static double MaxDiff(const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_INF); }
};

TEST_F(FrameCommands, TypedKeyIsLostUnderInjectedClick) {
  display.hd.script.push_back({1, -1, cv::EVENT_LBUTTONDOWN, 5, 5});
  display.hd.script.push_back({1, 'x', 0, 0, 0});
  CreatePlayerWindow(0, OnMouse);
  display.cycle = 1;
  const int key = KeyCode(DisplayWaitKey(1));
  EXPECT_EQ(key, 'x');
  EXPECT_EQ(player.PendingKey, 'e');
  const std::string out = Run(key);
  EXPECT_EQ(out, "SET: flip_mode = [ LEFT-RIGHT REVERSE ]\n");
  EXPECT_DOUBLE_EQ(player.frame_no, 0.0);

  // Pending values outside 1..255 leave the typed key alone; 1 (a load in progress) is no command.
  player.PendingKey = 300;
  Run('x');
  EXPECT_DOUBLE_EQ(player.frame_no, 1.0);
  player.PendingKey = 1;
  Run('x');
  EXPECT_DOUBLE_EQ(player.frame_no, 1.0);
}

// A remote command runs only in a cycle nobody at the computer commands: a typed key or a
// pending click goes first, the command waits in the queue, and runs as the same key after.
TEST_F(FrameCommands, QueuedRemoteCommandWaitsForTypedKeysAndClicks) {
  CloseOsc();
  auto send = [](const char* path, lo_message m) {
    size_t len = 0;
    void* bytes = lo_message_serialise(m, path, nullptr, &len);
    const bool taken = TakeOscPacket(bytes, len, 1000);
    std::free(bytes);
    lo_message_free(m);
    return taken;
  };
  lo_message key = lo_message_new(), threshold = lo_message_new();
  lo_message_add_string(key, "x");
  lo_message_add_int32(threshold, 777);
  ASSERT_TRUE(send("/orvante/key", key));
  ASSERT_TRUE(send("/orvante/threshold", threshold));
  Run('z');  // typed: a step back, from the first frame to the last
  EXPECT_EQ(osc.QueueCount, 2);
  player.PendingKey = 'x';  // a click's key
  Run(kNoKey);
  EXPECT_EQ(osc.QueueCount, 2);
  const double frame = player.frame_no;
  player.PendingKey = 0;
  Run(kNoKey);
  EXPECT_EQ(osc.QueueCount, 1);
  EXPECT_DOUBLE_EQ(player.frame_no, frame + 1.0);  // the remote x, as if typed
  EXPECT_EQ(Run(kNoKey), "SET: ZAV_threshold = [ 777 ]\n");
  EXPECT_EQ(player.VR_threshold, 777);
  EXPECT_EQ(orvtest::ReadFile("ZAV_THRESHOLD.dat"), "777");
}

TEST_F(FrameCommands, StepsWrapOrStopAtTheEnds) {
  player.frame_no = 29.0;
  Run('x');
  EXPECT_DOUBLE_EQ(player.frame_no, 0.0);
  Run('z');
  EXPECT_DOUBLE_EQ(player.frame_no, 29.0);
  EXPECT_EQ(player.PrevDirection, -1);  // with wrap the key counts as a motion

  player.WrapFlag = 0;
  Run('x');
  EXPECT_DOUBLE_EQ(player.frame_no, 29.0);
  EXPECT_EQ(player.Direction, 1);
  EXPECT_EQ(player.PrevDirection, 1);
  player.frame_no = 0.7;
  Run('z');
  EXPECT_DOUBLE_EQ(player.frame_no, 0.0);
  EXPECT_EQ(player.Direction, 0);
  EXPECT_EQ(player.PrevDirection, 0);
  EXPECT_EQ(player.AutoPlayDirection, 0);
}

TEST_F(FrameCommands, StepResetsShiftIdleAndAutoPlay) {
  player.ImageShift = 4;
  player.IdleCount = 50;
  player.AutoPlayDirection = 0;
  player.frame_no = 3.5;
  Run('x');
  EXPECT_DOUBLE_EQ(player.frame_no, 4.5);
  EXPECT_EQ(player.ImageShift, 0);
  EXPECT_EQ(player.IdleCount, 0);
  EXPECT_EQ(player.AutoPlayDirection, 1);
}

TEST_F(FrameCommands, ReplayPeriodBoundsTheStep) {
  player.StartFrameNum = 10, player.EndFrameNum = 20;
  player.VR_step = 2.0;
  player.WrapFlag = 0;
  player.frame_no = 20.0;
  Run('x');
  EXPECT_DOUBLE_EQ(player.frame_no, 20.0);
  EXPECT_DOUBLE_EQ(player.VR_step, 2.0 * 0.999);

  player.WrapFlag = 1;
  player.VR_step = 2.0;
  player.frame_no = 10.0;
  Run('z');
  EXPECT_DOUBLE_EQ(player.frame_no, 10.0);
  EXPECT_DOUBLE_EQ(player.VR_step, 2.0);
  player.frame_no = 3.0;  // outside below: raised to the start
  Run('x');
  EXPECT_DOUBLE_EQ(player.frame_no, 10.0);

  player.StartFrameNum = 0, player.EndFrameNum = 1;  // the shortest period from the first frame
  player.WrapFlag = 0;
  player.frame_no = 1.0;
  Run('x');
  EXPECT_DOUBLE_EQ(player.frame_no, 1.0);

  player.StartFrameNum = 20, player.EndFrameNum = 10;  // not a period
  player.frame_no = 25.0;
  Run('x');
  EXPECT_DOUBLE_EQ(player.frame_no, 26.0);
}

TEST_F(FrameCommands, LinesOfStepsAndMonitor) {
  std::snprintf(FrameData[1].http, kNameSize, "%s", "link.jpg");
  std::snprintf(FrameData[1].file, kNameSize, "%s", "s");  // one character is a name too
  EXPECT_EQ(Run('x'), "\nFrameData[     1 ].http[2] = [link.jpg]\nFrameData[     1 ].file[3] = [s]\n");
  control.MonitorMode = 1;
  EXPECT_EQ(Run('x'), "KEY FUNCTION : [x][ Increase frame_no ]\n");
  EXPECT_EQ(Run('z'), "KEY FUNCTION : [z][ Decrease frame_no ]\n"
                      "\nFrameData[     1 ].http[2] = [link.jpg]\nFrameData[     1 ].file[3] = [s]\n");
  EXPECT_EQ(Run('l'), "KEY FUNCTION : [l][ Reset Frame Number ]\n");
  EXPECT_EQ(Run('i'), "");
  EXPECT_EQ(control.MonitorMode, 0);
  EXPECT_EQ(Run('i'), "");
  EXPECT_EQ(control.MonitorMode, 2);
  EXPECT_EQ(Run('%'), "");  // not a command
}

TEST_F(FrameCommands, ShiftSamplesTheFileImageAroundMovedCentre) {
  const cv::Mat file = cv::imread(FrameData[4].path, cv::IMREAD_COLOR);
  player.frame_no = 4.2;
  ASSERT_TRUE(EnsureFrameLoaded(4));
  Run('Z');
  Run(',');
  Run('Z');
  Run('X');
  EXPECT_EQ(player.ImageShift, -2);
  cv::Mat expected;
  cv::getRectSubPix(file, file.size(), cv::Point2f(file.cols / 2 - 2, file.rows / 2), expected);
  EXPECT_EQ(MaxDiff(display.hd.shown[kPlayerWindow], expected), 0.0);
  EXPECT_EQ(MaxDiff(FrameImages[4], expected), 0.0);
  EXPECT_EQ(FrameData[4].loaded, 1);
  EXPECT_EQ(player.ShiftedImage.data, FrameImages[4].data);
  Run('.');
  EXPECT_EQ(player.ImageShift, -1);

  // An image that cannot be loaded is neither shifted nor shown.
  std::snprintf(FrameData[4].path, kNameSize, "%s", "../S001/gone.jpg");
  const long shows = display.hd.showCount;
  Run('X');
  EXPECT_EQ(player.ImageShift, -1);
  EXPECT_EQ(display.hd.showCount, shows);
  EXPECT_EQ(FrameData[4].loaded, 0);
}

TEST_F(FrameCommands, FlipModeAlternatesAndShowsAtOnce) {
  ASSERT_TRUE(EnsureFrameLoaded(0));
  const cv::Mat cached = FrameImages[0].clone();
  cv::Mat mirrored;
  cv::flip(cached, mirrored, 1);
  EXPECT_EQ(Run('e'), "SET: flip_mode = [ LEFT-RIGHT REVERSE ]\n");
  EXPECT_EQ(MaxDiff(display.hd.shown[kPlayerWindow], mirrored), 0.0);
  EXPECT_EQ(Run('e'), "SET: flip_mode = [ NORMAL ]\n");
  EXPECT_EQ(MaxDiff(display.hd.shown[kPlayerWindow], cached), 0.0);
  EXPECT_EQ(MaxDiff(FrameImages[0], cached), 0.0);
  player.flip_mode = 2;  // upside down, from the parameter file only
  control.MonitorMode = 1;
  EXPECT_EQ(Run('e'), "KEY FUNCTION : [e][ Change Flip Mode ]\nSET: flip_mode = [ NORMAL ]\n");
  player.RedrawMark = 5.0;
  Run('e');
  EXPECT_EQ(player.RedrawMark, 5.0);
  player.OperatorView = 1;  // the view is drawn again over the turned picture
  Run('e');
  EXPECT_EQ(player.RedrawMark, -1.0);
}

TEST_F(FrameCommands, RandomAndFirstFrame) {
  player.ImageShift = 3;
  for (int i = 0; i < 20; ++i) {
    std::mt19937 predict = player.Random;
    Run('j');
    EXPECT_DOUBLE_EQ(player.frame_no, static_cast<double>(static_cast<int>(predict() & 0x7fffffffu) % 30));
    EXPECT_EQ(player.ImageShift, 0);
  }
  player.StartFrameNum = 4, player.EndFrameNum = 9;
  player.ImageShift = 3;
  Run('l');
  EXPECT_DOUBLE_EQ(player.frame_no, 0.0);
  EXPECT_EQ(player.StartFrameNum, 0);
  EXPECT_EQ(player.EndFrameNum, 0);
  EXPECT_EQ(player.ImageShift, 0);
}

TEST_F(FrameCommands, SpaceRecreatesWindowWithMouse) {
  CreatePlayerWindow(0, OnMouse);
  display.hd.mouse.clear();
  display.hd.mouse[kPlayerWindow] = nullptr;
  player.RedrawMark = 5.0;
  setenv("LC_ALL", "ja_JP.UTF-8", 1);  // the message as it stands under a Japanese locale
  EXPECT_EQ(Run(' '), "SET: 画像表示用ウィンドウサイズ = [ 自動変更 ]\n");
  EXPECT_EQ(control.VARIABLE_SIZE_FLAG, 1);
  EXPECT_EQ(display.hd.destroyCount, 1);
  EXPECT_EQ(display.hd.windows[kPlayerWindow], cv::WINDOW_AUTOSIZE);
  EXPECT_EQ(display.hd.mouse[kPlayerWindow], &OnMouse);
  EXPECT_EQ(player.RedrawMark, -1.0);
  control.MonitorMode = 2;
  EXPECT_EQ(Run(' '), "KEY FUNCTION : [SPACE][ Toggle VARIABLE_SIZE_FLAG ]\nSET: 画像表示用ウィンドウサイズ = [ 手動変更 ]\n");
  EXPECT_EQ(display.hd.windows[kPlayerWindow], cv::WINDOW_NORMAL);
  setenv("LC_ALL", "C", 1);
  control.MonitorMode = 0;
  EXPECT_EQ(Run(' '), "SET: window size for image display = [ AUTOMATIC ]\n");
}

}  // namespace
