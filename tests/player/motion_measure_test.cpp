#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <cstdlib>
#include <string>

#include <opencv2/core.hpp>

#include "common/display.h"
#include "common/timer.h"
#include "player/player.h"
#include "app/app_state.h"
#include "control/control_state.h"
#include "player/player_state.h"
#include "recognition/recognition_state.h"
#include "../support/process.h"
#include "player/motion.h"

using namespace orv;

namespace {

class MotionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "/orvante-test-motion-" + std::to_string(::getpid());
    orv::RemoveSharedSections(name_);
    ::setenv("ORVANTE_SHM_NAME", name_.c_str(), 1);
    app = AppState{};
    timer = TimerState{};
    player = PlayerState{};
    control = ControlState{};
  }
  void TearDown() override { orv::RemoveSharedSections(name_); }

  static void Fill(int buffer, uint8_t v) { player.GrayFrames[static_cast<size_t>(buffer)].fill(v); }
  std::string name_;
};

}  // namespace

TEST_F(MotionTest, GridSumsOverBothBuffers) {
  player.CameraOn = 1;
  Fill(0, 40);
  Fill(1, 40);
  MeasureMotion();
  EXPECT_EQ(player.DifferenceSum, 0);

  Fill(0, 0);
  Fill(1, 255);
  player.SampleStep = 4;
  MeasureMotion();
  EXPECT_EQ(player.DifferenceSum, 1224000);
  player.SampleStep = 1;
  MeasureMotion();
  EXPECT_EQ(player.DifferenceSum, 19584000);
  player.SampleStep = 0;  // from a parameter file: every pixel, as step 1
  MeasureMotion();
  EXPECT_EQ(player.DifferenceSum, 19584000);
  EXPECT_EQ(SamplePoints(), 76800);

  // Step 7: rows 0..238 (35) and columns 0..315 (46); row 239 and column 319 are not sampled.
  Fill(1, 1);
  auto& b = player.GrayFrames[1];
  b[7 * kCamW + 7] = 101;
  b[8 * kCamW + 8] = 200;
  b[238 * kCamW + 315] = 11;
  b[239 * kCamW + 315] = 200;
  b[238 * kCamW + 319] = 200;
  player.SampleStep = 7;
  MeasureMotion();
  EXPECT_EQ(player.DifferenceSum, 35 * 46 + 100 + 10);
}

TEST_F(MotionTest, SectionIsPrivateAndStartClearsPublishedWords) {
  // A peer left values behind, including in the words nobody owns.
  const int fd = ::shm_open(name_.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 1024), 0);
  auto* w = static_cast<int32_t*>(::mmap(nullptr, 1024, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  ASSERT_NE(w, MAP_FAILED);
  for (int i = 0; i < 256; ++i) w[i] = 1000 + i;

  OpenSharedMemory();
  struct stat st {};
  ASSERT_EQ(::fstat(fd, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  for (int i = 0; i <= 32; ++i) EXPECT_EQ(w[i], 0) << i;
  for (int i = 33; i < 256; ++i) EXPECT_EQ(w[i], 1000 + i) << i;

  // Publishing: own word, 32-bit wrap-around sum of words 1..32, words 33.. kept.
  w[1] = INT_MAX;
  w[2] = 1;
  w[100] = 77;
  player.CameraOn = 1;
  player.CamChan = 3;
  Fill(0, 0);
  Fill(1, 10);
  MeasureMotion();
  EXPECT_EQ(w[4], 48000);
  EXPECT_EQ(w[0], static_cast<int32_t>(static_cast<uint32_t>(INT_MAX) + 1u + 48000u));
  EXPECT_EQ(w[100], 77);

  // A camera number outside 0..31 writes no word of its own but still sums.
  w[1] = 5;
  w[2] = 0;
  player.CamChan = 40;
  Fill(1, 20);
  MeasureMotion();
  EXPECT_EQ(player.DifferenceSum, 96000);
  EXPECT_EQ(w[4], 48000);
  EXPECT_EQ(w[0], 48005);
  ::munmap(w, 1024);
  ::close(fd);
}

TEST_F(MotionTest, CameraOffFollowsTheSumOnlyAtTheFileThreshold) {
  OpenSharedMemory();
  player.SharedView[0] = 150;
  player.CameraOn = 0;
  Fill(0, 9);
  Fill(1, 9);
  recog.GrayFrame[1].fill(3);
  recog.GrayFrameCopy.fill(4);

  player.VR_threshold = player.ZAV_threshold + 1;
  player.SharedMirror[0] = -5;
  MeasureMotion();
  EXPECT_EQ(player.DifferenceSum, 0);
  EXPECT_EQ(player.SharedMirror[0], -5);  // the section was not read
  for (auto v : player.GrayFrames[0]) ASSERT_EQ(v, 0);
  for (auto v : player.GrayFrames[1]) ASSERT_EQ(v, 0);
  for (auto v : recog.GrayFrame[1]) ASSERT_EQ(v, 0);
  for (auto v : recog.GrayFrameCopy) ASSERT_EQ(v, 0);

  player.VR_threshold = player.ZAV_threshold;
  MeasureMotion();
  EXPECT_EQ(player.DifferenceSum, 150);
  EXPECT_EQ(player.SharedView[0], 150);  // a copy without camera never writes
}

// A word counts while its recorded writer runs, or when no writer is recorded.
TEST_F(MotionTest, WordOfAWriterThatEndedCountsZero) {
  OpenSharedMemory();
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const uint64_t own = player.OwnAliveRecord, pidMask = (1u << 22) - 1;
  // Words 1..4: no record, this process, an ended process, this id with another start (reused).
  const uint64_t records[4] = {0, own, (own & ~pidMask) | uint64_t(ended), own + (uint64_t{1} << 22)};
  auto* w = const_cast<int32_t*>(player.SharedView);
  for (int c = 0; c < 4; ++c) w[1 + c] = 100 << c, w[0] = 1500, const_cast<uint64_t*>(player.AliveView)[c] = records[c];
  player.VR_threshold = player.ZAV_threshold;
  MeasureMotion();  // the first to notice clears the words and forms word 0 again
  EXPECT_EQ(std::vector<int>({player.DifferenceSum, w[0], w[3], w[4]}), std::vector<int>({300, 300, 0, 0}));
}

// A camera that goes off (q, or lost) takes its value out of the section at once: the
// copies without a camera must not go on scrubbing on a value nobody measures any more.
TEST_F(MotionTest, CameraThatGoesOffOrIsLostWithdrawsItsValue) {
  orvtest::TempDir dir;
  const std::filesystem::path old = std::filesystem::current_path();
  ASSERT_EQ(::chdir(dir.path.c_str()), 0);
  orvtest::WriteFile(dir.path / "SetCamera3.txt", "0 0 3 1 0\n");  // camera 3: word 4
  UseHeadlessDisplay();
  OpenSharedMemory();
  volatile int32_t* w = player.SharedView;
  w[2] = 500;  // another copy's camera 1
  const cv::Mat dark(kCamH, kCamW, CV_8UC3, cv::Scalar::all(0)), light(kCamH, kCamW, CV_8UC3, cv::Scalar::all(10));
  auto publishTwice = [] {
    for (int i = 0; i < 2; ++i) ZAV_Capture(), MeasureMotion();
  };

  UseScriptedCamera({dark, light}, false);
  TurnCameraOn();
  publishTwice();
  ASSERT_EQ(w[4], 48000);
  ASSERT_EQ(w[0], 48500);
  TurnCameraOff();
  EXPECT_EQ(w[4], 0);
  EXPECT_EQ(w[0], 500);
  EXPECT_EQ(w[2], 500);
  player.VR_threshold = player.ZAV_threshold;
  MeasureMotion();  // and its own camera-less cycles follow only the others
  EXPECT_EQ(player.DifferenceSum, 500);

  // The recording ends: the lost camera withdraws its value the same way.
  TurnCameraOn();
  publishTwice();
  ASSERT_EQ(w[0], 48500);
  ZAV_Capture();
  ASSERT_EQ(player.CameraOn, 0);
  EXPECT_EQ(w[4], 0);
  EXPECT_EQ(w[0], 500);

  // A copy whose camera number has no word withdraws nothing of anybody else's.
  orvtest::WriteFile(dir.path / "SetCamera3.txt", "0 0 40 1 0\n");
  TurnCameraOn();
  publishTwice();
  w[4] = 7;
  TurnCameraOff();
  EXPECT_EQ(w[4], 7);
  EXPECT_EQ(w[0], 500);
  UseDeviceCamera();
  std::filesystem::current_path(old);
}

TEST_F(MotionTest, UnusableSectionEndsTheProgramWithItsMessage) {
  const int fd = ::shm_open(name_.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 512), 0);
  ::close(fd);
  EXPECT_EXIT(
      {
        OpenSharedMemory();
        std::exit(3);
      },
      ::testing::ExitedWithCode(0), "512 bytes");

  // The real program says so on its console in UTF-8, before any window shows a frame.
  orvtest::TempDir dir;
  orvtest::ProcOptions opt;
  opt.cwd = dir.path;
  opt.env = {{"ORVANTE_HEADLESS", "1"}, {"ORVANTE_SHM_NAME", name_}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "ja_JP.UTF-8"}};
  const auto r = orvtest::RunProcess({ORVANTE_BINARY}, opt);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("共有メモリオープン失敗\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("The system is starting up"), std::string::npos);
}

TEST_F(MotionTest, SectionOfAnotherUserIsNeverUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a section to another user needs root";
  const int fd = ::shm_open(name_.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, player.SharedSize), 0);
  ASSERT_EQ(::fchown(fd, 65534, 65534), 0);  // nobody
  ::close(fd);
  EXPECT_EXIT(
      {
        OpenSharedMemory();
        std::exit(3);
      },
      ::testing::ExitedWithCode(0), "the section belongs to another user");
}

// Camera numbers 0..31 own words 1..32 and liveness records 0..31, the last ones included; a
// copy that a signal ends takes its word back itself, and one that ended without doing so is
// found by the others through its record. Camera 32 has no word and touches nothing.
TEST_F(MotionTest, EveryCameraWordToTheLastIsClaimedWithdrawnAndDroppedWhenItsWriterEnds) {
  OpenSharedMemory();
  volatile int32_t* w = player.SharedView;
  volatile uint64_t* alive = player.AliveView;
  for (const int chan : {0, 30, 31, 32}) {
    SCOPED_TRACE(chan);
    const int other = chan == 0 ? 32 : 1;  // the first or last word, never the tested one
    for (int i = 0; i <= 32; ++i) w[i] = 0;
    for (int i = 0; i < kAliveRecords; ++i) alive[i] = 0;
    const pid_t child = ::fork();
    if (child == 0) {
      OpenSharedMemory();  // a copy of its own, which clears the words as it starts
      player.SharedView[other] = 500;  // another copy's camera
      player.CameraOn = 1;
      player.CamChan = chan;
      Fill(0, 0), Fill(1, 10);  // 4,800 grid points 10 apart
      MeasureMotion();
      ::raise(SIGTERM);
      ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(w[0], 500);  // withdrawn by the ended copy itself
    for (int i = 1; i <= 32; ++i) EXPECT_EQ(w[i], i == other ? 500 : 0) << i;
    for (int i = 0; i < kAliveRecords; ++i)
      EXPECT_EQ(alive[i] & ((1u << 22) - 1), i == chan ? static_cast<uint64_t>(child) : 0u) << i;

    // The same copy killed outright leaves its value behind; the first reader drops it.
    if (chan == 32) continue;
    w[1 + chan] = 48000;
    w[0] = 48500;
    CopySharedIn();
    EXPECT_EQ(player.SharedMirror[static_cast<size_t>(1 + chan)], 0);
    EXPECT_EQ(w[1 + chan], 0);
    EXPECT_EQ(w[0], 500);
  }
}
