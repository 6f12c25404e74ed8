// The motion player's cycle with the read-ahead frame cache off (0) and on (512 MB): headless,
// paced like a 60-per-second camera, one new 1920x1080 frame per cycle, back and forth over a
// stretch of 40 frames (a turn every 40 cycles), 480 cycles. Reports the median and the 99th
// percentile of the cycle's own time (the wait for the next camera frame excluded), in ms, and
// the share of frame changes served from the cache.
//   build/orvante_bench --benchmark_filter=FrameCache
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "control/control_state.h"
#include "common/display.h"
#include "player/player_state.h"
#include "control/control.h"
#include "player/player.h"
#include "app/main_loop.h"
#include "player/frame_cache.h"
#include "player/motion.h"

namespace fs = std::filesystem;
using namespace orv;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kStretch = 40;  // cycles between two turns
constexpr int kCycles = 480;

struct BigContent {
  fs::path root;
  BigContent() {
    root = fs::temp_directory_path() / ("orvante-bench-cache-" + std::to_string(::getpid()));
    fs::create_directories(root / "S001");
    fs::create_directories(root / "work");
    std::mt19937 rng(5);
    for (int i = 0; i <= kStretch; ++i) {
      cv::Mat img(1080, 1920, CV_8UC3);
      for (int y = 0; y < img.rows; ++y) img.row(y).setTo(cv::Scalar(60 + y / 9, 90 + (i * 7) % 80, 200 - y / 7));
      for (int k = 0; k < 60; ++k)
        cv::circle(img, {static_cast<int>(rng() % 1920), static_cast<int>(rng() % 1080)},
                   static_cast<int>(10 + rng() % 180), cv::Scalar(rng() % 256, rng() % 256, rng() % 256),
                   cv::FILLED, cv::LINE_AA);
      cv::Mat grain(img.size(), CV_8UC3);
      cv::randn(grain, cv::Scalar::all(0), cv::Scalar::all(12));
      cv::add(img, grain, img);
      char name[32];
      std::snprintf(name, sizeof name, "clip_%05d.jpg", i);
      cv::imwrite((root / "S001" / name).string(), img, {cv::IMWRITE_JPEG_QUALITY, 90});
    }
    fs::current_path(root / "work");
    std::fflush(stdout);
    const int saved = ::dup(1), null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    UseHeadlessDisplay();
    display.hd.copyShown = false;
    const std::string shm = "/orvante-bench-" + std::to_string(::getpid());
    ::setenv("ORVANTE_SHM_NAME", shm.c_str(), 1);
    SetUpMainLoop();
    RemoveSharedSections(shm);
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(null);
    ::close(saved);
  }
  ~BigContent() {
    std::error_code ec;
    fs::current_path(fs::temp_directory_path(), ec);
    fs::remove_all(root, ec);
  }
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

void BM_FrameCacheCycle(benchmark::State& state) {
  static BigContent content;
  const auto pace = std::chrono::microseconds(16667);
  for (auto _ : state) {
    StartFrameCache(static_cast<size_t>(state.range(0)) << 20, 2);
    player.PlayState = 3;  // camera off: one step per cycle in Direction
    player.KeyFrameMode = 0;
    player.AutoJumpFlag = 0;
    player.VR_step = 1.0;
    player.WrapFlag = 0;
    player.CameraOn = 0;
    control.MonitorMode = 0;
    player.frame_no = 0.0;
    player.Direction = 1;
    player.RedrawMark = -1.0;
    std::vector<double> ms;
    for (int c = 0; c < kCycles; ++c) {
      if (c % kStretch == 0 && c > 0) player.Direction = 1 - player.Direction;
      const auto start = Clock::now();
      if (!RunCycle()) state.SkipWithError("the cycle ended the loop");
      const auto took = Clock::now() - start;
      ms.push_back(std::chrono::duration<double, std::milli>(took).count());
      if (took < pace) std::this_thread::sleep_for(pace - took);
    }
    state.counters["median_ms"] = Percentile(ms, 0.5);
    state.counters["p99_ms"] = Percentile(ms, 0.99);
    const double changes = static_cast<double>(frameCache.Hits + frameCache.Misses);
    state.counters["from_cache"] = changes > 0 ? static_cast<double>(frameCache.Hits) / changes : 0.0;
    StopFrameCache();
  }
}
BENCHMARK(BM_FrameCacheCycle)->Arg(0)->Arg(512)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
