#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "../support/process.h"
#include "control/control_state.h"
#include "common/display.h"
#include "player/player_state.h"
#include "player/player.h"

using namespace orv;
using orvtest::CountOf;

namespace {

class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::chdir(dir_.path.c_str()), 0);  // no SetCamera3.txt: default settings
    ::unsetenv("ORVANTE_CAMERA");
    UseHeadlessDisplay();
    player = PlayerState{};
    control = ControlState{};
    player.CameraPreview = cv::Mat(kGriH, kGriW, CV_8UC1, cv::Scalar(0));
  }
  void TearDown() override { UseDeviceCamera(); }

  static cv::Mat RandomFrame(int seed, int w = kCamW, int h = kCamH) {
    cv::Mat f(h, w, CV_8UC3);
    cv::RNG rng(static_cast<uint64_t>(seed));
    rng.fill(f, cv::RNG::UNIFORM, 0, 256);
    return f;
  }
  static cv::Mat Buffer(int i) {
    return cv::Mat(kCamH, kCamW, CV_8UC1, player.GrayFrames[static_cast<size_t>(i)].data()).clone();
  }
  static cv::Mat Grey(const cv::Mat& bgr, int flipCode = 99) {
    cv::Mat f = bgr.clone(), g;
    if (flipCode != 99) cv::flip(f, f, flipCode);
    cv::cvtColor(f, g, cv::COLOR_BGR2GRAY);
    return g;
  }
  static bool Same(const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_INF) == 0; }

  orvtest::TempDir dir_;
};

}  // namespace

TEST_F(CameraTest, FlipsAlternationAndPreviewOfThePreviousCapture) {
  const cv::Mat f0 = RandomFrame(1), f1 = RandomFrame(2), f2 = RandomFrame(3);
  UseScriptedCamera({f0, f1, f2});
  TurnCameraOn();
  ASSERT_EQ(player.CameraOn, 1);
  EXPECT_TRUE(display.hd.windows.count(kPreviewWindow));

  // Default settings mirror left-right.
  ZAV_Capture();
  EXPECT_EQ(player.GrayIndex, 1);
  EXPECT_TRUE(Same(Buffer(0), Grey(f0, 1)));
  EXPECT_EQ(cv::countNonZero(display.hd.shown[kPreviewWindow]), 0);  // buffer 1 is still black

  player.CamFlipV = 1;  // vertical and horizontal: turned by 180 degrees
  ZAV_Capture();
  EXPECT_EQ(player.GrayIndex, 0);
  cv::Mat rotated;
  cv::rotate(f1, rotated, cv::ROTATE_180);
  EXPECT_TRUE(Same(Buffer(1), Grey(rotated)));
  cv::Mat expectPreview;
  cv::resize(Grey(f0, 1), expectPreview, {kGriW, kGriH}, 0, 0, cv::INTER_NEAREST);
  EXPECT_TRUE(Same(display.hd.shown[kPreviewWindow], expectPreview));

  player.CamFlipV = player.CamFlipH = 0;
  ZAV_Capture();
  EXPECT_TRUE(Same(Buffer(0), Grey(f2)));

  // The scripted camera stops: the camera goes off in order.
  testing::internal::CaptureStdout();
  ZAV_Capture();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "cvQueryFrame() failed in ZAV_Capture().\n"
            "\nNOW, TURNING OFF THE CAMERA DEVICE. WAIT A MOMENT...\nDone.\n\n");
  EXPECT_EQ(player.CameraOn, 0);
  EXPECT_EQ(player.PreviewMode, 2);
  EXPECT_FALSE(CameraIsOpen());
  EXPECT_FALSE(display.hd.windows.count(kPreviewWindow));
}

TEST_F(CameraTest, WrongSizeIsRefusedWithoutTouchingTheBuffers) {
  const cv::Mat good = RandomFrame(4);
  UseScriptedCamera({good, RandomFrame(5, 640, 480)});
  TurnCameraOn();
  ZAV_Capture();
  const cv::Mat before0 = Buffer(0), before1 = Buffer(1);

  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  ZAV_Capture();
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "ERROR: The Size of Supposed Input Image does not Match.nChannels = 3\ndepth     = 8 (bit)\n"
            "width     = 640\nheight    = 480\nZAV_F_XMAX    = 320\nZAV_F_YMAX    = 240\n");
  EXPECT_EQ(out.rfind("\n\n", 0), 0u);
  EXPECT_EQ(CountOf(out, "Done.\n\n"), 1);
  EXPECT_EQ(player.CameraOn, 0);
  EXPECT_EQ(player.GrayIndex, 1);
  EXPECT_TRUE(Same(Buffer(0), before0));
  EXPECT_TRUE(Same(Buffer(1), before1));
}

TEST_F(CameraTest, SwitchingOnAndOffResetsTheMotionState) {
  UseScriptedCamera({RandomFrame(6)}, true);
  player.Direction = 0;
  player.BurstCount = 7;
  player.DifferenceSum = 99;
  testing::internal::CaptureStdout();
  TurnCameraOn();
  ZAV_Capture();
  ZAV_Capture();  // a looping source goes on delivering
  EXPECT_EQ(player.CameraOn, 1);
  EXPECT_EQ(player.Direction, 1);
  EXPECT_EQ(player.BurstCount, 0);
  EXPECT_EQ(player.DifferenceSum, 0);
  player.GrayIndex = 1;
  player.PreviewMode = 1;
  TurnCameraOff();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "\nNOW, TURNING ON THE CAMERA DEVICE. WAIT A MOMENT...\nDone.\n"
            "\nNOW, TURNING OFF THE CAMERA DEVICE. WAIT A MOMENT...\nDone.\n");
  EXPECT_EQ(player.CameraOn, 0);
  EXPECT_EQ(player.GrayIndex, 0);
  EXPECT_EQ(player.PreviewMode, 2);
  EXPECT_FALSE(display.hd.windows.count(kPreviewWindow));
}

TEST_F(CameraTest, CameraThatDoesNotOpenGoesOffAtTheNextCapture) {
  ::setenv("ORVANTE_CAMERA", (dir_.path / "missing_%04d.png").c_str(), 1);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  TurnCameraOn();
  EXPECT_EQ(player.CameraOn, 1);  // on but not open
  EXPECT_FALSE(display.hd.windows.count(kPreviewWindow));
  ZAV_Capture();
  const std::string out = testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(player.CameraOn, 0);
  EXPECT_NE(out.find("cvQueryFrame() failed in ZAV_Capture().\n"), std::string::npos);
}

// A lost camera comes back on its own only with a retry interval, and never after q.
TEST_F(CameraTest, LostCameraIsOpenedAgainOnlyWhenRetriesAreAsked) {
  testing::internal::CaptureStdout();
  for (const double retry : {0.0, 0.01}) {
    UseScriptedCamera({RandomFrame(1), RandomFrame(2)}, false);  // two frames, then "unplugged"
    player = PlayerState{};
    player.CameraRetry = retry;
    TurnCameraOn();
    for (int i = 0; i < 3; ++i) ZAV_Capture();
    EXPECT_EQ(player.CameraOn, 0);
    usleep(30000);
    ZAV_Capture();  // the attempt, and at once the first frame of the reopened source
    EXPECT_EQ(player.CameraOn, retry > 0.0 ? 1 : 0) << retry;
    if (retry > 0.0) {
      EXPECT_TRUE(Same(Buffer(0), Grey(RandomFrame(1), 1)));
    }
  }
  TurnCameraOff();  // q: the operator's choice stands
  usleep(30000);
  ZAV_Capture();
  EXPECT_EQ(player.CameraOn, 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(CountOf(out, "The camera will be opened again every 0.01 s until it answers."), 1);
  EXPECT_EQ(CountOf(out, "The camera answers again."), 1);
}
