#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "../support/process.h"
#include "control/control_state.h"
#include "common/display.h"
#include "player/player_state.h"
#include "player/player.h"
#include "player/motion.h"

using namespace orv;

namespace {

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::chdir(dir_.path.c_str()), 0);
    orvtest::WriteFile(dir_.path / "SetCamera3.txt", "0 0 0 1 0\n");  // no flips
    UseHeadlessDisplay();
    player = PlayerState{};
    control = ControlState{};
    ::unsetenv("ORVANTE_CAMERA_LOOP");
  }

  // A bar sweeping across a noisy room; returns the file names in order.
  std::vector<std::string> WriteRecording(int frames, int w = kCamW, int h = kCamH) {
    std::vector<std::string> names;
    cv::RNG rng(7);
    cv::Mat room(h, w, CV_8UC3);
    rng.fill(room, cv::RNG::UNIFORM, 0, 120);
    for (int i = 0; i < frames; ++i) {
      cv::Mat f = room.clone();
      cv::rectangle(f, {20 + 37 * i, 30}, {70 + 37 * i, 200}, cv::Scalar(250, 200, 40 * i % 256), cv::FILLED);
      char name[64];
      std::snprintf(name, sizeof name, "rec_%04d.png", i);
      names.push_back((dir_.path / name).string());
      EXPECT_TRUE(cv::imwrite(names.back(), f));
    }
    ::setenv("ORVANTE_CAMERA", (dir_.path / "rec_%04d.png").c_str(), 1);
    return names;
  }

  static cv::Mat Grey(const std::string& file) {
    cv::Mat g;
    cv::cvtColor(cv::imread(file, cv::IMREAD_COLOR), g, cv::COLOR_BGR2GRAY);
    return g;
  }

  orvtest::TempDir dir_;
};

}  // namespace

TEST_F(RecordingTest, MotionOfARecordedClipMatchesAnIndependentSum) {
  const auto names = WriteRecording(6);
  TurnCameraOn();
  ASSERT_TRUE(CameraIsOpen());
  cv::Mat previous = cv::Mat::zeros(kCamH, kCamW, CV_8UC1);
  for (size_t i = 0; i < names.size(); ++i) {
    ZAV_Capture();
    MeasureMotion();
    const cv::Mat current = Grey(names[i]);
    cv::Mat diff;
    cv::absdiff(current, previous, diff);
    int expected = 0;
    for (int y = 0; y < kCamH; y += 4)
      for (int x = 0; x < kCamW; x += 4) expected += diff.at<uint8_t>(y, x);
    EXPECT_EQ(player.DifferenceSum, expected) << "frame " << i;
    EXPECT_GT(expected, 0);
    previous = current;
  }
}

TEST_F(RecordingTest, RecordingLoopsUnlessAskedNotTo) {
  const auto names = WriteRecording(3);
  TurnCameraOn();
  for (int i = 0; i < 4; ++i) ZAV_Capture();
  EXPECT_EQ(player.CameraOn, 1);
  const cv::Mat fourth(kCamH, kCamW, CV_8UC1, player.GrayFrames[1].data());
  EXPECT_EQ(cv::norm(fourth, Grey(names[0]), cv::NORM_INF), 0);
  TurnCameraOff();

  ::setenv("ORVANTE_CAMERA_LOOP", "0", 1);
  TurnCameraOn();
  for (int i = 0; i < 3; ++i) ZAV_Capture();
  EXPECT_EQ(player.CameraOn, 1);
  testing::internal::CaptureStdout();
  ZAV_Capture();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(player.CameraOn, 0);
  EXPECT_EQ(out.rfind("cvQueryFrame() failed in ZAV_Capture().\n", 0), 0u) << out;
}

TEST_F(RecordingTest, RecordingOfAnotherSizeIsMeasuredAsItsScaledFrames) {
  const auto names = WriteRecording(3, 640, 480);
  TurnCameraOn();
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  cv::Mat previous = cv::Mat::zeros(kCamH, kCamW, CV_8UC1);
  for (size_t i = 0; i < names.size() + 2; ++i) {  // on into the loop: the note stays single
    ZAV_Capture();
    MeasureMotion();
    cv::Mat scaled, current, diff;
    cv::resize(cv::imread(names[i % names.size()], cv::IMREAD_COLOR), scaled, {kCamW, kCamH}, 0, 0, cv::INTER_AREA);
    cv::cvtColor(scaled, current, cv::COLOR_BGR2GRAY);
    cv::absdiff(current, previous, diff);
    int expected = 0;
    for (int y = 0; y < kCamH; y += 4)
      for (int x = 0; x < kCamW; x += 4) expected += diff.at<uint8_t>(y, x);
    EXPECT_EQ(player.DifferenceSum, expected) << "frame " << i;
    previous = current;
  }
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(player.CameraOn, 1);
  EXPECT_EQ(err, "");
  EXPECT_EQ(orvtest::CountOf(out, "640x480"), 1) << out;
  EXPECT_NE(out.find("scaled to 320x240"), std::string::npos) << out;
}

TEST_F(RecordingTest, VideoFileLoopsToo) {
  const std::string file = (dir_.path / "clip.avi").string();
  {
    cv::VideoWriter w(file, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30, {kCamW, kCamH});
    ASSERT_TRUE(w.isOpened());
    for (int i = 0; i < 3; ++i) w.write(cv::Mat(kCamH, kCamW, CV_8UC3, cv::Scalar::all(60 * i)));
  }
  ::setenv("ORVANTE_CAMERA", file.c_str(), 1);
  TurnCameraOn();
  for (int i = 0; i < 7; ++i) ZAV_Capture();
  EXPECT_EQ(player.CameraOn, 1);
  EXPECT_LT(player.GrayFrames[0][0], 30);  // capture 7 is the first frame again (dark)
}
