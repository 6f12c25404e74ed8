// Tuning a rehearsal against decoding it alone: a 10,000-frame 320x240 PNG recording read
// through the back-end the camera opens it with, (a) only decoded, (b) measured by the tuner's
// own road (capture, motion measure, separation, step). Report the ratio of the medians:
//   orvante_bench --benchmark_filter=Tune --benchmark_repetitions=5 --benchmark_report_aggregates_only
// ORVANTE_BENCH_RECORDING=<dir> keeps the generated frames there (default: a folder in /tmp,
// written once and reused).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "app/main_loop.h"
#include "app/tune.h"
#include "common/display.h"
#include "common/platform.h"
#include "player/player_state.h"
#include "player/motion.h"
#include "player/player.h"
#include "support/quiet_stdout.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

constexpr int kFrames = 10000;

// A room with camera noise and someone crossing it now and then; written once.
std::string Recording() {
  const fs::path dir = EnvOr("ORVANTE_BENCH_RECORDING", "/tmp/orvante-bench-rehearsal-10000");
  const std::string pattern = (dir / "f_%05d.png").string();
  char last[64];
  std::snprintf(last, sizeof last, "f_%05d.png", kFrames - 1);
  if (fs::exists(dir / last)) return pattern;
  fs::create_directories(dir);
  cv::RNG rng(10000);
  cv::Mat noise(kCamH, kCamW, CV_16SC3), room(kCamH, kCamW, CV_8UC3);
  for (int y = 0; y < kCamH; ++y) room.row(y).setTo(cv::Scalar(60 + y / 3, 70 + y / 4, 80 + y / 5));
  for (int i = 0; i < kFrames; ++i) {
    cv::Mat f = room.clone();
    const int t = i % 240;
    if (t >= 120) cv::rectangle(f, cv::Rect(10 + (t - 120) * 2, 40, 60, 160), cv::Scalar(200, 180, 160), cv::FILLED);
    rng.fill(noise, cv::RNG::NORMAL, 0, 1.5);
    f.convertTo(f, CV_16SC3);
    cv::Mat(f + noise).convertTo(f, CV_8UC3);
    char name[32];
    std::snprintf(name, sizeof name, "f_%05d.png", i);
    cv::imwrite((dir / name).string(), f);
  }
  return pattern;
}

void BM_TuneDecodeOnly(benchmark::State& state) {
  const std::string pattern = Recording();
  for (auto _ : state) {
    cv::VideoCapture cap;
    if (!cap.open(pattern, cv::CAP_FFMPEG) && !cap.open(pattern, cv::CAP_IMAGES)) state.SkipWithError("no recording");
    cv::Mat frame;
    long n = 0;
    while (cap.read(frame) && !frame.empty()) ++n;
    if (n != kFrames) state.SkipWithError("frames missing");
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_TuneDecodeOnly)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_TuneMeasure(benchmark::State& state) {
  const std::string pattern = Recording();
  UseHeadlessDisplay();
  display.hd.copyShown = false;
  player.PrivateSection = 1;
  OpenSharedMemory();
  player.StopAtCameraEnd = 1;
  for (auto _ : state) {
    std::vector<int> sums;
    sums.reserve(kFrames);
    {
      QuietStdout quiet;
      UseRecordingCamera(pattern, false);
      player.CameraEnd = 0;
      TurnCameraOn();
    }
    while (CaptureAndMeasure()) sums.push_back(player.DifferenceSum);
    if (sums.size() != static_cast<size_t>(kFrames)) state.SkipWithError("frames missing");
    const MotionLevels m = SeparateMotion(std::vector<int>(sums.begin() + 1, sums.end()), SamplePoints());
    double median = 0.0;
    benchmark::DoNotOptimize(SuggestStep(sums, m.threshold, 0.5, 240, &median));
  }
}
BENCHMARK(BM_TuneMeasure)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
