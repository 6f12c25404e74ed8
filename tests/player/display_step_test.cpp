#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "common/display.h"
#include "common/limits.h"
#include "player/player_state.h"
#include "player/player.h"
#include "support/process.h"
#include "player/display_step.h"

namespace fs = std::filesystem;
using namespace orv;
using namespace orvtest;

namespace {

struct DisplayFixture : testing::Test {
  TempDir root;
  fs::path old = fs::current_path();
  void SetUp() override {
    MakeContent(root.path, 0, 3, 64, 48);
    fs::create_directories(root.path / "work");
    fs::current_path(root.path / "work");
    UseHeadlessDisplay();
    testing::internal::CaptureStdout();
    CheckContent();
    testing::internal::GetCapturedStdout();
  }
  void TearDown() override { fs::current_path(old); }
  const cv::Mat& Shown() { return display.hd.shown[kPlayerWindow]; }
  // Mean of the left quarter: the generated frames are white there.
  static double LeftMean(const cv::Mat& m) { return cv::mean(m(cv::Rect(0, 0, m.cols / 8, m.rows / 2)))[0]; }
};

}  // namespace

TEST_F(DisplayFixture, SameFrameIsLoadedOnceAndCountsStandstill) {
  player.frame_no = 1.9;
  ASSERT_TRUE(DisplayFrame());
  EXPECT_EQ(display.hd.showCount, 1);
  EXPECT_EQ(FrameData[1].loaded, 1);
  // Deleting the file proves the second step does not load again.
  fs::remove(root.path / "S001/clip_00001.jpg");
  for (int i = 0; i < 10; ++i) {
    player.frame_no = 1.2;
    ASSERT_TRUE(DisplayFrame());
  }
  EXPECT_EQ(display.hd.showCount, 1);
  EXPECT_EQ(player.SameFrameCount, 10);
  EXPECT_EQ(display.hd.waitCount, 1);  // the extra poll on the tenth unchanged step
}

TEST_F(DisplayFixture, FrameChangeReleasesThePreviousImage) {
  player.frame_no = 0.0;
  ASSERT_TRUE(DisplayFrame());
  player.frame_no = 1.0;
  ASSERT_TRUE(DisplayFrame());
  EXPECT_TRUE(FrameImages[0].empty());
  EXPECT_EQ(FrameData[0].loaded, 0);
  EXPECT_FALSE(FrameImages[1].empty());
  EXPECT_EQ(CountLoadedFrames(), 1);
  EXPECT_EQ(player.PendingKey, 0);
}

TEST_F(DisplayFixture, PositionMarkIsDrawnIntoTheCachedImage) {
  player.frame_no = 2.0;
  ASSERT_TRUE(DisplayFrame());
  const cv::Mat& img = FrameImages[2];
  const int x = img.cols * 2 / 3;
  const cv::Vec3b px = img.at<cv::Vec3b>(img.rows - 1, x);
  EXPECT_EQ(px, cv::Vec3b(200, 255, 200));
  EXPECT_EQ(img.at<cv::Vec3b>(img.rows - 5, x + 4), cv::Vec3b(0, 255, 0));
}

TEST_F(DisplayFixture, FlipModesMirrorTheShownPictureOnly) {
  player.flip_mode = 1;
  player.frame_no = 0.0;
  ASSERT_TRUE(DisplayFrame());
  EXPECT_LT(LeftMean(Shown()), 200.0);        // the white band moved to the right
  EXPECT_GT(LeftMean(FrameImages[0]), 240.0);  // the cache keeps the file's orientation
  cv::Mat expect;
  cv::flip(FrameImages[0], expect, 1);
  EXPECT_EQ(cv::norm(expect, Shown(), cv::NORM_INF), 0.0);

  player.flip_mode = 2;
  player.RedrawMark = -1.0;
  ASSERT_TRUE(DisplayFrame());
  cv::flip(FrameImages[0], expect, 0);
  EXPECT_EQ(cv::norm(expect, Shown(), cv::NORM_INF), 0.0);
  EXPECT_GT(LeftMean(FrameImages[0]), 240.0);
}

TEST_F(DisplayFixture, UnloadableFrameEndsTheLoopWithItsName) {
  WriteFile(root.path / "S001/clip_00001.jpg", "not a jpeg");
  player.frame_no = 1.0;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(DisplayFrame());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("../S001/clip_00001.jpg"), std::string::npos);
}

TEST_F(DisplayFixture, OutOfRangeOrEmptyRecordsShowNothing) {
  player.frame_no = 5.0;  // beyond MaxCount
  ASSERT_TRUE(DisplayFrame());
  player.frame_no = 1e300;  // positions no int can hold are simply off the content
  ASSERT_TRUE(DisplayFrame());
  player.frame_no = std::nan("");
  ASSERT_TRUE(DisplayFrame());
  player.MaxCount = 4;  // a count larger than the records filled: record 3 has no path
  player.frame_no = 3.0;
  ASSERT_TRUE(DisplayFrame());
  EXPECT_EQ(display.hd.showCount, 0);
  EXPECT_EQ(player.RedrawMark, 3.0);
}

// A window that shows the picture at half its size or less gets the JPEG reader's reduced
// decode: the picture and its position mark are then the full-size ones scaled down.
TEST_F(DisplayFixture, ReducedDecodeShowsTheFullPictureScaledWithItsMark) {
  cv::Mat detail(480, 640, CV_8UC3), ramp(480, 640, CV_8UC3);  // detail at every scale
  cv::randu(detail, cv::Scalar::all(0), cv::Scalar::all(255));
  cv::GaussianBlur(detail, detail, cv::Size(0, 0), 2.0);
  for (int y = 0; y < ramp.rows; ++y) ramp.row(y).setTo(cv::Scalar(y / 2, 100, 255 - y / 2));
  cv::addWeighted(detail, 0.6, ramp, 0.4, 0.0, detail);
  for (int i = 0; i < 3; ++i) cv::imwrite((root.path / ("S001/clip_0000" + std::to_string(i) + ".jpg")).string(), detail);
  const auto showFrame2 = [&](cv::Size area) {
    UseHeadlessDisplay();
    display.pretendArea = area;
    player.FullFrameSize = cv::Size();
    for (double f : {1.0, 2.0}) {  // the first decode learns the full size
      ReleaseFrameCache();
      player.frame_no = f, player.RedrawMark = -1.0;
      EXPECT_TRUE(DisplayFrame());
    }
    return Shown().clone();
  };
  const cv::Mat full = showFrame2(cv::Size());
  for (const auto& [area, reduction] : {std::pair<cv::Size, int>{{320, 240}, 2}, {{321, 480}, 1}, {{640, 241}, 1},
                                        {{160, 120}, 4}, {{100, 400}, 4}, {{161, 200}, 2}}) {
    const cv::Mat shown = showFrame2(area);
    ASSERT_EQ(shown.size(), cv::Size(640 / reduction, 480 / reduction)) << area;
    cv::Mat scaled;
    cv::resize(full, scaled, shown.size(), 0, 0, cv::INTER_AREA);
    EXPECT_GE(cv::PSNR(shown, scaled), 35.0) << area;
    const cv::Rect strip(0, shown.rows - 12 / reduction, shown.cols, 12 / reduction);  // the position mark's
    EXPECT_GE(cv::PSNR(shown(strip), scaled(strip)), 40.0) << area;
  }
}
