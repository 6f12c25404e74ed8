// The operator view's cost per cycle: a copy of the shown picture, the cached text panels
// copied over it, the motion meter and the bars of eight taught gestures, at a small and a
// full-HD picture. The motion and the evidence change every cycle; the texts stay.
//   build/orvante_bench --benchmark_filter=OperatorView --benchmark_repetitions=9
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>

#include "control/control_state.h"
#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/recognition_state.h"
#include "control/operator_view.h"
#include "learning/learning.h"

using namespace orv;

namespace {

void BM_OperatorView(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  cv::Mat base(h, w, CV_8UC3);
  cv::randu(base, 0, 255);
  ResetGestureTables();
  for (int g = 0; g < kGestures; ++g) {
    PatternPresent[0][static_cast<size_t>(g)][0] = 1;
    recog.CumRanking[static_cast<size_t>(g)] = {g, 10.0 - g};
    learning.Followability[static_cast<size_t>(g)] = 50 + g;
  }
  player.PlayerMode = 0;
  player.CameraOn = 1;
  player.VR_threshold = 11500;
  learn.pos_num = 2;
  learn.LearningPasses = 2;
  control.TeachPassesTotal = 3;
  control.ViewJudged = 2, control.ViewLength = 40;
  cv::Mat out;
  int cycle = 0;
  for (auto _ : state) {
    player.DifferenceSum = (cycle * 997) % 40000;
    control.ViewPhase = 1 + cycle % 40;
    ++cycle;
    RenderOperatorView(base, out);
    benchmark::DoNotOptimize(out.data);
  }
  learn.LearningPasses = 0;
}
BENCHMARK(BM_OperatorView)->Args({640, 360})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

}  // namespace
