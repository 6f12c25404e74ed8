// Read-ahead frame cache: the pictures shown with and without it, its budget, the player's end
// while workers decode, and a frame file removed while the player runs.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <string_view>

#include "../control/player_fixture.h"
#include "app/app_state.h"
#include "common/platform.h"
#include "common/timer.h"
#include "control/control.h"
#include "control/control_state.h"
#include "player/display_step.h"
#include "player/frame_cache.h"
#include "player/player_state.h"

using namespace orv;
using namespace orvtest;
namespace fs = std::filesystem;

namespace {

constexpr size_t kFrame = 64 * 48 * 3;  // bytes of one decoded test frame

struct FrameCacheTest : PlayerTest {
  void TearDown() override { StopFrameCache(), PlayerTest::TearDown(); }
  void Fresh(int frames) {
    app = AppState{}, timer = TimerState{}, control = ControlState{}, player = PlayerState{};
    player.Random.seed(7), player.MaxCount = frames;
    ReleaseFrameCache();
    for (int i = 0; i < frames; ++i)
      std::snprintf(FrameData[static_cast<size_t>(i)].path, kNameSize, "%s", ContentFramePath(0, i).c_str());
  }
  // The motion player's cycle over a scripted motion (bursts that reverse, a quiet stretch for
  // the idle jump) and keys; returns a checksum of every picture shown, in order.
  std::vector<size_t> Run(size_t budget, int frames, double step) {
    Fresh(frames);
    StartFrameCache(budget, 2);
    player.VR_step = step, player.IdleLimit = 20, player.BurstFlip = 3, player.BurstReset = 1, player.PlayState = 1;
    if (frames > 33) player.KeyFrameNumber[0] = 5, player.KeyFrameNumber[1] = 20, player.KeyFrameNumber[2] = 33;
    const std::map<int, int> keys = {{10, 'e'}, {25, 'Z'}, {26, 'Z'}, {27, 'X'}, {30, 'e'}, {40, 'k'},
                                     {45, 't'}, {50, 'x'}, {52, 'j'}, {100, 'l'}, {120, ','}};
    std::vector<size_t> shown;
    long count = display.hd.showCount;
    auto note = [&] {
      std::lock_guard<std::mutex> lock(frameCache.Lock);
      EXPECT_LE(frameCache.HeldBytes + frameCache.ReservedBytes, frameCache.BudgetBytes);
      if (display.hd.showCount == count) return;
      count = display.hd.showCount;
      const cv::Mat& m = display.hd.shown[kPlayerWindow];
      shown.push_back(std::hash<std::string_view>{}({reinterpret_cast<const char*>(m.data), m.total() * m.elemSize()}));
    };
    testing::internal::CaptureStdout();
    for (int c = 0; c < 160; ++c) {
      if (player.PendingKey != 'z' && player.PendingKey != 'x') {
        player.DifferenceSum = c >= 60 && c < 90 ? 0 : (c / 7) % 3 == 2 ? 100 : 20000;
        StepPlayer();
      }
      EXPECT_TRUE((note(), DisplayFrame()));
      note(), ScoreKeyFrames(), PlanReadAhead();
      DispatchKey(keys.count(c) ? keys.at(c) : kNoKey), note(), player.PendingKey = 0;
    }
    testing::internal::GetCapturedStdout();
    return shown;
  }
};

}  // namespace

TEST_F(FrameCacheTest, ShowsTheSamePicturesAsDecodingEachFrameOnTheCycle) {
  UseContent(40);
  fs::copy_file(dir_.path / "S001/clip_00000.jpg", dir_.path / "clip_00000.jpg");  // for k
  struct Case { int frames; double step; };
  for (const Case k : {Case{40, 1.0}, Case{40, 0.0}, Case{40, 2.5}, Case{2, 1.0}}) {
    SCOPED_TRACE(testing::Message() << k.frames << " frames, step " << k.step);
    const std::vector<size_t> off = Run(0, k.frames, k.step);
    ASSERT_GT(off.size(), 10u);
    // Room for the whole content, a little more than three frames, less than one frame.
    for (size_t budget : {kFrame * 100, kFrame * 3 + 100, kFrame - 1}) {
      SCOPED_TRACE(budget);
      EXPECT_EQ(Run(budget, k.frames, k.step), off);
      std::lock_guard<std::mutex> lock(frameCache.Lock);
      EXPECT_LE(frameCache.Entries.size(), budget / kFrame);
      if (budget < kFrame * 100) {
        EXPECT_TRUE(budget > kFrame || frameCache.Hits == 0);
        continue;
      }
      EXPECT_GT(frameCache.Hits, 0);  // revisits come from memory,
      EXPECT_LE(frameCache.Misses + frameCache.WorkerDecodes, k.frames);  // each frame decoded once
    }
  }
}

TEST_F(FrameCacheTest, RemovedFrameFileIsShownFromTheCacheOnlyWhenCached) {
  for (size_t budget : {size_t{0}, kFrame * 10}) {
    SCOPED_TRACE(budget);
    UseContent(6);
    Fresh(6);
    StartFrameCache(budget, 1);
    for (double f : {1.0, 2.0}) ASSERT_TRUE((player.frame_no = f, DisplayFrame()));
    const fs::path one = dir_.path / "S001/clip_00001.jpg", three = dir_.path / "S001/clip_00003.jpg";
    fs::rename(one, dir_.path / "1"), fs::rename(three, dir_.path / "3");
    EXPECT_EQ((player.frame_no = 1.0, DisplayFrame()), budget > 0);
    EXPECT_FALSE((player.frame_no = 3.0, DisplayFrame()));  // never cached: ends as without the cache
    fs::rename(dir_.path / "1", one), fs::rename(dir_.path / "3", three);
    MakeContent(dir_.path, 0, 6, 32, 24);  // another content under the same names
    CheckContent();
    EXPECT_EQ((player.frame_no = 1.0, DisplayFrame(), display.hd.shown[kPlayerWindow].cols), 32);
  }
}

TEST_F(FrameCacheTest, PlansAheadAndKeyFramesAndStopsWhileWorkersDecode) {
  UseContent(30, 1280, 720);
  StartFrameCache(size_t{14} * 1280 * 720 * 3, 2);  // room for 12 frames besides two decodes
  player.frame_no = 10.0, player.Direction = 0, player.VR_step = 2.0, player.KeyFrameMode = 3;
  player.KeyFrameNumber = {5, 22, 20}, player.KeyFrameIndex = 1;
  ASSERT_TRUE(DisplayFrame());
  PlanReadAhead();
  std::vector<int> planned;
  for (const FrameRequest& r : frameCache.Wanted) planned.push_back(r.frame);  // the workers only read it
  // Shown, 4 ahead, the key frames (current, next, previous), then 3 ahead (wrapping) to 1 behind.
  EXPECT_EQ(planned, (std::vector<int>{10, 8, 6, 4, 2, 22, 20, 5, 0, 28, 26, 12}));
  // A window that now shows the picture at half size or less: the read-ahead follows at once,
  // with the reduced decode's size (each side rounded up) as its room per frame.
  display.pretendArea = cv::Size(639, 359);
  PlanReadAhead();
  EXPECT_EQ(frameCache.Reduction, 2);
  EXPECT_EQ(frameCache.FrameBytes, size_t{640} * 360 * 3);
  EXPECT_EQ(frameCache.Wanted.size(), 16u);  // planned at once; more of the smaller frames fit
  display.pretendArea = cv::Size();
  StopFrameCache();
  EXPECT_TRUE(frameCache.Workers.empty() && frameCache.InFlight.empty() && frameCache.Entries.empty());
  EXPECT_EQ(frameCache.HeldBytes + frameCache.ReservedBytes + frameCache.BudgetBytes, 0u);
  player.frame_no = 5.0;
  EXPECT_TRUE(DisplayFrame());  // the player goes on decoding on the cycle
}

TEST_F(FrameCacheTest, TheCycleDecodesAFrameItselfWhenItsWorkerDoesNotGetOn) {
  UseContent(6);
  Fresh(6);
  StartFrameCache(kFrame * 10, 1);
  std::promise<int> clock;
  std::promise<void> release;
  std::thread held([&] { clock.set_value(OwnThreadCpuClock()), release.get_future().wait(); });
  const int c = clock.get_future().get();
  {
    std::lock_guard<std::mutex> lock(frameCache.Lock);
    frameCache.InFlight[2] = InFlightDecode{c, ThreadCpuMicros(c)};  // a worker the scheduler holds back
    frameCache.DecodeMicros = 5000;
  }
  EXPECT_TRUE((player.frame_no = 2.0, DisplayFrame()));
  EXPECT_EQ(display.hd.shown[kPlayerWindow].cols, 64);
  EXPECT_EQ(frameCache.Misses, 1);
  {
    std::lock_guard<std::mutex> lock(frameCache.Lock);
    frameCache.InFlight.erase(2);
  }
  release.set_value(), held.join();
  // A new shown size reserves a reduced JPEG decode's bytes before any is made: sides rounded up.
  StopFrameCache();
  player.FullFrameSize = cv::Size(65, 49);
  SetFrameCacheReduction(4);
  EXPECT_EQ(frameCache.FrameBytes, size_t{3} * 17 * 13);
}

TEST(FrameCacheBudget, ReadsMegabytesWithinThePhysicalMemory) {
  size_t b = 1;
  EXPECT_TRUE(FrameCacheBudget("", &b) && b > 0 && b <= kFrameCacheMaxMB << 20);
  EXPECT_TRUE(FrameCacheBudget("64", &b) && b == size_t{64} << 20);
  EXPECT_TRUE(FrameCacheBudget("0", &b) && b == 0);
  for (const char* bad : {"-1", "12x", "999999999"}) EXPECT_FALSE(FrameCacheBudget(bad, &b) || b != 0) << bad;
}

// The cycle log (ORVANTE_CYCLE_LOG) gets a line per cycle that ran to its end: cycle, frame
// shown, frame changes, cache hits and misses (its times left out here); none without a cycle.
TEST(FrameCacheRun, AWrongBudgetIsNamedAndAnEndInTheSetUpStopsTheWorkers) {
  const struct { int frames; const char* budget; const char* line; const char* log; } cases[] = {
      {3, "12x", "WARNING: ORVANTE_FRAME_CACHE_MB=12x is not a number of megabytes", "1 0 1 0 0\n2 0 1 0 0\n"},
      {0, "64", "---> ERROR: No image file exists! Bye!", ""}};  // exit() while the workers wait
  for (const auto& c : cases) {
    TempDir root;
    MakeContent(root.path, 0, c.frames);
    fs::create_directories(root.path / "work");
    WriteFile(root.path / "script.txt", "2 x\n3 ESC\n4 ESC\n");
    const ProcOptions opt{root.path / "work", {{"ORVANTE_HEADLESS", "1"}, {"ORVANTE_FRAME_CACHE_MB", c.budget},
                                               {"ORVANTE_SCRIPT", "../script.txt"}, {"ORVANTE_CYCLE_LOG", "../log"}}, {}};
    const ProcResult r = RunProcess({ORVANTE_BINARY}, opt);
    EXPECT_EQ(r.exitCode, 0) << c.budget;
    EXPECT_NE((r.err + r.out).find(c.line), std::string::npos) << c.budget << r.err;
    std::ifstream in(root.path / "log");
    std::string log;
    long since = 0;  // starts count from the first cycle's, upwards
    for (long v[7]; in >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5] >> v[6]; since = v[1]) {
      EXPECT_TRUE(v[0] == 1 ? v[1] == 0 : v[1] >= since) << v[0] << " " << v[1];
      log += std::to_string(v[0]) + " " + std::to_string(v[3]) + " " + std::to_string(v[4]) + " " +
             std::to_string(v[5]) + " " + std::to_string(v[6]) + "\n";
    }
    if (std::count(log.begin(), log.end(), '\n') > 1) {
      EXPECT_GT(since, 0) << c.budget;  // later cycles start later
    }
    EXPECT_EQ(log, c.log) << c.budget;
  }
}
