// One camera cycle: capture (flip, grey conversion, buffer, preview) and the motion measure
// with its publication in the shared section. Frames come from memory: no decode is timed.
#include <benchmark/benchmark.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <opencv2/core.hpp>

#include "common/display.h"
#include "player/player_state.h"
#include "player/player.h"
#include "support/quiet_stdout.h"
#include "player/motion.h"

using namespace orv;

static void BM_CaptureAndMeasure(benchmark::State& state) {
  const std::string shm = "/orvante-bench-" + std::to_string(::getpid());
  ::setenv("ORVANTE_SHM_NAME", shm.c_str(), 1);
  UseHeadlessDisplay();
  display.hd.copyShown = false;
  // BENCH_CV_THREADS=n compares OpenCV's own threading on such small frames.
  if (const char* t = std::getenv("BENCH_CV_THREADS")) cv::setNumThreads(std::atoi(t));
  OpenSharedMemory();
  orv::RemoveSharedSections(shm);  // the mapping stays; no name is left behind, however the run ends

  cv::Mat a(kCamH, kCamW, CV_8UC3), b(kCamH, kCamW, CV_8UC3);
  cv::randu(a, 0, 256);
  cv::randu(b, 0, 256);
  UseScriptedCamera({a, b}, true);
  player.SampleStep = static_cast<int>(state.range(0));
  {
    QuietStdout quiet;  // the switch-on messages are not part of the cycle
    TurnCameraOn();
  }

  for (auto _ : state) {
    ZAV_Capture();
    MeasureMotion();
    benchmark::DoNotOptimize(player.DifferenceSum);
  }
  if (player.CameraOn != 1) state.SkipWithError("camera went off");
}
BENCHMARK(BM_CaptureAndMeasure)->Arg(4)->Arg(1)->Unit(benchmark::kMicrosecond);
