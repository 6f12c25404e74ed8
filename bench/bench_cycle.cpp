// One full motion-player cycle, headless, on a content of 1280x720 JPEG frames:
// with a new frame every cycle (one decode) and with the frame standing still. And one
// whole gesture-mode cycle against a full knowledge base (BM_CycleGestureFullKB).
//   build/orvante_bench --benchmark_filter=Cycle --benchmark_repetitions=5
// ORVANTE_BENCH_CONTENT=<dir> runs it on the frames of <dir>/S001 instead of generated ones.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/app_state.h"
#include "control/control_state.h"
#include "common/display.h"
#include "player/player_state.h"
#include "recognition/recognition_state.h"
#include "control/control.h"
#include "player/player.h"
#include "support/quiet_stdout.h"
#include "app/main_loop.h"
#include "kb/kb.h"
#include "player/display_step.h"
#include "player/motion.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

constexpr int kFrames = 24;

// A frame with photo-like structure (gradients, shapes, grain) so the decode cost is realistic.
cv::Mat Frame(int i, std::mt19937& rng) {
  cv::Mat img(720, 1280, CV_8UC3);
  for (int y = 0; y < img.rows; ++y)
    img.row(y).setTo(cv::Scalar(60 + y / 6, 90 + (i * 7) % 80, 200 - y / 5));
  for (int k = 0; k < 40; ++k) {
    cv::circle(img, {static_cast<int>(rng() % 1280), static_cast<int>(rng() % 720)},
               static_cast<int>(10 + rng() % 120),
               cv::Scalar(rng() % 256, rng() % 256, rng() % 256), cv::FILLED, cv::LINE_AA);
  }
  cv::Mat grain(img.size(), CV_8UC3);
  cv::randn(grain, cv::Scalar::all(0), cv::Scalar::all(12));
  cv::add(img, grain, img);
  cv::GaussianBlur(img, img, {3, 3}, 0.8);
  return img;
}

struct Content {
  fs::path root, work;
  std::vector<std::string> paths;
  Content() {
    root = fs::temp_directory_path() / ("orvante-bench-" + std::to_string(::getpid()));
    work = root / "work";
    fs::create_directories(root / "S001");
    fs::create_directories(work);
    const char* given = std::getenv("ORVANTE_BENCH_CONTENT");
    std::mt19937 rng(3);
    for (int i = 0; i < kFrames; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "clip_%05d.jpg", i);
      const fs::path p = root / "S001" / name;
      if (given) {
        std::error_code ec;
        if (!fs::copy_file(fs::path(given) / "S001" / name, p, ec)) break;
      } else {
        cv::imwrite(p.string(), Frame(i, rng), {cv::IMWRITE_JPEG_QUALITY, 90});
      }
      paths.push_back(p.string());
    }
    if (paths.empty()) {
      std::fprintf(stderr, "no frames in %s/S001\n", given);
      std::exit(1);
    }
    std::FILE* f = std::fopen((work / "ZAV_THRESHOLD.dat").c_str(), "w");
    std::fputs("11500", f);
    std::fclose(f);
    fs::current_path(work);

    // The set-up talks a lot; keep the benchmark table readable.
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    UseHeadlessDisplay();
    display.hd.copyShown = false;  // a real window keeps no copy either
    // A section of its own, never an installation's; its name goes as soon as it is mapped.
    const std::string shm = "/orvante-bench-" + std::to_string(::getpid());
    ::setenv("ORVANTE_SHM_NAME", shm.c_str(), 1);
    SetUpMainLoop();
    orv::RemoveSharedSections(shm);
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(null);
    ::close(saved);
  }
  ~Content() {
    std::error_code ec;
    fs::current_path(fs::temp_directory_path(), ec);
    fs::remove_all(root, ec);
  }
};

Content& TheContent() {
  static Content c;
  return c;
}

void PlayAtStep(double step) {
  player.PlayState = 5;  // continuous play: the step does not depend on motion
  player.AutoPlayDirection = 1;
  player.KeyFrameMode = 0;
  player.AutoJumpFlag = 0;
  player.VR_step = step;
  control.MonitorMode = 0;
  player.CameraOn = 0;  // other benchmarks of this binary may have left a camera on
}

void BM_CycleNewFrame(benchmark::State& state) {
  TheContent();
  PlayAtStep(1.0);
  for (auto _ : state) {
    if (!RunCycle()) state.SkipWithError("the cycle ended the loop");
  }
  state.counters["frames"] = player.MaxCount;
}
BENCHMARK(BM_CycleNewFrame)->Unit(benchmark::kMillisecond);

void BM_ImreadSameFiles(benchmark::State& state) {
  const auto& c = TheContent();
  size_t i = 0;
  for (auto _ : state) {
    cv::Mat m = cv::imread(c.paths[i], cv::IMREAD_COLOR);
    benchmark::DoNotOptimize(m.data);
    i = (i + 1) % c.paths.size();
  }
}
BENCHMARK(BM_ImreadSameFiles)->Unit(benchmark::kMillisecond);

void BM_CycleSameFrame(benchmark::State& state) {
  TheContent();
  PlayAtStep(0.0);
  for (int i = 0; i < 200; ++i) RunCycle();  // scores of earlier visits decay away
  for (auto _ : state) {
    if (!RunCycle()) state.SkipWithError("the cycle ended the loop");
  }
}
BENCHMARK(BM_CycleSameFrame)->Unit(benchmark::kMicrosecond);

// Parts of the same-frame cycle, to see where its time goes.
void BM_ThresholdFileRead(benchmark::State& state) {
  TheContent();
  for (auto _ : state) benchmark::DoNotOptimize(ReadThresholdFile());
}
BENCHMARK(BM_ThresholdFileRead)->Unit(benchmark::kMicrosecond);

void BM_ScoreKeyFramesIdle(benchmark::State& state) {
  TheContent();
  for (auto _ : state) ScoreKeyFrames();
}
BENCHMARK(BM_ScoreKeyFramesIdle)->Unit(benchmark::kMicrosecond);

// What the decay costs when it walks all 22,000 scores every cycle.
void BM_FullTableDecay(benchmark::State& state) {
  std::vector<double> score(kMaxFrames, 0.0);
  for (auto _ : state) {
    for (double& v : score) {
      v -= 1.0 / 30.0;
      if (v < 0.0) v = 0.0;
    }
    double best = score[0];
    for (double v : score) best = v > best ? v : best;
    benchmark::DoNotOptimize(best);
  }
}
BENCHMARK(BM_FullTableDecay)->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

void BM_ReleaseFrameCache(benchmark::State& state) {
  TheContent();
  for (auto _ : state) ReleaseFrameCache();
}
BENCHMARK(BM_ReleaseFrameCache)->Unit(benchmark::kMicrosecond);

void BM_HeadlessShow(benchmark::State& state) {
  const cv::Mat img = cv::imread(TheContent().paths[0], cv::IMREAD_COLOR);
  for (auto _ : state) DisplayShow(kPlayerWindow, img);
}
BENCHMARK(BM_HeadlessShow)->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

// Camera frames of a figure swinging an arm (320x240 grey), one swing in 16 frames.
std::vector<cv::Mat> SwingFrames() {
  std::vector<cv::Mat> frames;
  cv::RNG rng(1);
  for (int f = 0; f < 16; ++f) {
    cv::Mat m(kCamH, kCamW, CV_8UC1);
    rng.fill(m, cv::RNG::UNIFORM, 15, 25);
    cv::rectangle(m, cv::Rect(130, 40, 60, 190), cv::Scalar(170), cv::FILLED);
    cv::rectangle(m, cv::Rect(145, 10, 30, 30), cv::Scalar(200), cv::FILLED);
    const double a = f * 2 * M_PI / 16;
    const cv::Point hand(190 + static_cast<int>(70 * std::cos(a)), 80 + static_cast<int>(60 * std::sin(a)));
    cv::line(m, {190, 86}, hand, cv::Scalar(210), 12);
    cv::rectangle(m, cv::Rect(hand.x - 20, hand.y - 20, 40, 40), cv::Scalar(230), cv::FILLED);
    frames.push_back(m);
  }
  return frames;
}

long judgedCycles = 0;

// Capture from memory, motion measure, DriveGRI with JudgeMap, GestureStep, the status line,
// the display step on an unchanged frame, the key poll and the command step.
void BM_CycleGestureFullKB(benchmark::State& state) {
  TheContent();
  FillFullKnowledgeBase(2);
  const int savedCount = player.MaxCount;
  {
    QuietStdout quiet;
    UseScriptedCamera(SwingFrames(), true);
    TurnCameraOn();
    player.PlayerMode = 0;
    control.MonitorMode = 1;
    player.PreviewMode = 2;
    player.MaxCount = 1;  // every phase maps onto frame 0: no frame change, no decode
    player.frame_no = 0.0;
    app.AfterStatus = [] { judgedCycles += recog.JudgedGesture >= 0 && recog.JudgedGesture < kGestures; };
    for (int i = 0; i < 50; ++i) RunCycle();
    judgedCycles = 0;
    for (auto _ : state) {
      if (!RunCycle()) state.SkipWithError("the cycle ended the loop");
    }
    app.AfterStatus = nullptr;
    TurnCameraOff();
    UseDeviceCamera();
  }
  state.counters["judged"] = benchmark::Counter(double(judgedCycles), benchmark::Counter::kAvgIterations);
  player.MaxCount = savedCount;
  player.PlayerMode = 1;
  control.MonitorMode = 0;
  ReleaseKnowledgeBase();
}
BENCHMARK(BM_CycleGestureFullKB)->Unit(benchmark::kMicrosecond);

}  // namespace
