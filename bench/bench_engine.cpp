// Per-frame cost of the gesture engine: DriveGRI on moving camera frames against a full
// (32 views x 8 gestures x 200 samples) and a typical (8 gestures x 60 samples) knowledge
// base, plus its stages on their own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "learning/learning.h"
#include "recognition/recognition.h"
#include "kb/kb.h"

using namespace orv;

namespace {

constexpr int kMotionFrames = 16;

// A bright figure with a swinging arm on a dark, slightly noisy background, as the camera
// would deliver it (320x240); consecutive frames differ.
std::vector<std::array<uint8_t, kCamPixels>> MakeCameraFrames() {
  std::vector<std::array<uint8_t, kCamPixels>> frames(kMotionFrames);
  std::mt19937 rng(1);
  for (int f = 0; f < kMotionFrames; ++f) {
    auto& px = frames[f];
    for (auto& p : px) p = uint8_t(15 + rng() % 10);
    auto box = [&](int x0, int y0, int w, int h, uint8_t v) {
      for (int y = std::max(0, y0); y < std::min(kCamH, y0 + h); ++y)
        for (int x = std::max(0, x0); x < std::min(kCamW, x0 + w); ++x) px[y * kCamW + x] = v;
    };
    box(130, 40, 60, 190, 170);  // body
    box(145, 10, 30, 30, 200);   // head
    const double a = f * 2 * M_PI / kMotionFrames;
    const int ax = 190 + int(70 * std::cos(a)), ay = 80 + int(60 * std::sin(a));
    box(ax - 20, ay - 20, 40, 40, 230);  // hand
    box(std::min(190, ax), std::min(80, ay), std::abs(ax - 190) + 8, 12, 210);  // arm
  }
  return frames;
}

void SetUpEngine(int samplesPerGesture) {
  ReleaseKnowledgeBase();
  recog = RecognitionState{};
  learn = LearningState{};
  engine = EngineSetup{};
  learning = LearningWork{};
  ResetRecognition();
  ResetGestureTables();
  FillDirectionTables();
  BuildKernelTables();
  ResetEngineCaches();
  if (samplesPerGesture <= 0) return;
  if (!EnsurePatternStore()) std::abort();
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> re(0.0, 120.0), ps(0.0, 4000.0);
  for (int v = 0; v < kViews; ++v)
    for (int g = 0; g < kGestures; ++g) {
      for (int s = 0; s < samplesPerGesture; ++s) {
        for (double& x : Patterns->Re[v][g][s]) x = re(rng);
        for (double& x : Patterns->Ps[v][g][s]) x = ps(rng);
        PatternPresent[v][g][s] = 1;
      }
      learn.SampleHigh[v][g] = samplesPerGesture;
    }
  // Protocol curves and limits as learning leaves them, so that every frame is judged and
  // counts: gesture 0 clearly leads, the others stay well apart from it.
  for (int k = 0; k < kGestures; ++k)
    for (auto& levels : ProtocolMap[k][k])
      for (int e = 0; e < kLevels; ++e) {
        const double d = e / 999.0 - 0.5;
        levels[e] = (k == 0 ? 1.0 : 0.5) * std::exp(-4.0 * d * d);
      }
  learn.GestureWeight.fill(1.0);
  learn.RateLimit.fill(1.0);
  learn.GestureInfo[0].length = kSeqFrames;
}

// Makes the next DriveGRI see camera frame f.
void ShowFrame(const std::vector<std::array<uint8_t, kCamPixels>>& frames, int f) {
  player.GrayFrames[1 - (player.GrayIndex & 1)] = frames[f % kMotionFrames];
}

// Keeps the sequence running: every measured frame is a motion frame of a sequence.
void KeepSequenceOpen() {
  if (recog.mflg >= kSeqFrames - 10) recog.mflg = 1;
}

void DriveFrames(benchmark::State& state, bool coldCache) {
  const auto frames = MakeCameraFrames();
  SetUpEngine(static_cast<int>(state.range(0)));
  int f = 0;
  ShowFrame(frames, f++);
  RunEngineFrame(-1, LatestGrayFrame());  // primes the previous frame
  std::vector<uint8_t> sweep(coldCache ? 96u << 20 : 0);
  long compared = 0;
  for (auto _ : state) {
    if (coldCache) {
      state.PauseTiming();
      for (size_t i = 0; i < sweep.size(); i += 64) sweep[i] += 1;  // evict the knowledge base
      benchmark::DoNotOptimize(sweep.data());
      state.ResumeTiming();
    }
    ShowFrame(frames, f++);
    RunEngineFrame(-1, LatestGrayFrame());
    KeepSequenceOpen();
    if (recog.DiffPixelCount <= 0 || recog.mflg == 0) state.SkipWithError("frame without motion");
    for (int v = 0; v < kViews; ++v) compared += recog.ViewGesture[v][0] >= 0;
  }
  state.counters["views_matched"] =
      benchmark::Counter(double(compared), benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(int64_t(state.iterations()) * kViews * kGestures * state.range(0) *
                          kDirections * sizeof(double));
}

void BM_DriveGRI(benchmark::State& state) { DriveFrames(state, false); }
void BM_DriveGRI_ColdCache(benchmark::State& state) { DriveFrames(state, true); }

// Maps and regions of one frame.
void BM_MotionMaps(benchmark::State& state) {
  const auto frames = MakeCameraFrames();
  SetUpEngine(0);
  int f = 0;
  for (auto _ : state) {
    ShowFrame(frames, f);
    recog.GrayFrameIndex ^= 1;
    FeedFrame(LatestGrayFrame());
    ComputeFrameMaps();
    ++f;
  }
}

// The characteristics of all eight groups of one frame (what the 32 views share).
void BM_GroupCharacteristics(benchmark::State& state) {
  const auto frames = MakeCameraFrames();
  SetUpEngine(0);
  for (int f = 0; f < 2; ++f) {
    ShowFrame(frames, f);
    recog.GrayFrameIndex ^= 1;
    FeedFrame(LatestGrayFrame());
  }
  ComputeFrameMaps();
  for (auto _ : state) {
    BeginFrameViews();
    int hits = 0;
    for (int g = 0; g < kViewGroups; ++g) {
      recog.GcRecord = GcRecordT{};
      GetGC(4 * g);
      hits += RadialSignature() == 0;
    }
    benchmark::DoNotOptimize(hits);
  }
}

// A sequence of `frames` judged frames in which every view compared every gesture: gesture 0
// matches well with best samples that follow the frame, the others poorly. Smooth protocol
// curves for all gestures, as learning leaves them.
void SetUpJudgement(int frames) {
  SetUpEngine(0);
  for (int k = 0; k < kGestures; ++k)
    for (auto& levels : ProtocolMap[k][k])
      for (int e = 0; e < kLevels; ++e) {
        const double d = e / 999.0 - 0.8;
        levels[e] = std::exp(-20.0 * d * d);
      }
  learn.GestureWeight.fill(1.0);
  learn.RateLimit.fill(1.0);
  learn.GestureInfo[0].length = kSeqFrames;
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> noise(-0.1, 0.1);
  std::uniform_int_distribution<int> jitter(-3, 3);
  for (int f = 0; f < frames; ++f)
    for (int l = 0; l < kViews; ++l)
      for (int k = 0; k < kGestures; ++k) {
        ViewFrameEntry& e = recog.FrameRecord[l][f];
        e.gesture[k] = k;
        e.similarity[k] = (k == 0 ? 0.8 : 0.3) + noise(rng);
        e.sample[k] = std::clamp(f + 1 + jitter(rng), 1, kSeqFrames);
      }
  for (int f = 1; f <= frames; ++f) {
    recog.mflg = f;
    JudgeMap(-1, 0);
  }
}

// JudgeMap at frame `mflg` of a running sequence (the earlier frames already judged).
void BM_JudgeMap(benchmark::State& state) {
  const int frames = static_cast<int>(state.range(0));
  SetUpJudgement(frames);
  for (auto _ : state) {
    recog.mflg = frames;
    if (JudgeMap(-1, 0) != 0 || recog.JudgedGesture != 0) state.SkipWithError("no judgement");
  }
}

// The same when the candidate has just changed: every frame of the sequence is estimated anew.
void BM_JudgeMap_NewCandidate(benchmark::State& state) {
  const int frames = static_cast<int>(state.range(0));
  SetUpJudgement(frames);
  for (auto _ : state) {
    for (auto& track : recog.PhaseTrack) track[0] = 0.0;
    recog.mflg = frames;
    if (JudgeMap(-1, 0) != 0) state.SkipWithError("no judgement");
  }
}

}  // namespace

BENCHMARK(BM_JudgeMap)->Arg(1)->Arg(50)->Arg(100)->Arg(200)->ArgName("mflg")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JudgeMap_NewCandidate)->Arg(1)->Arg(50)->Arg(100)->Arg(200)->ArgName("mflg")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DriveGRI)->Arg(200)->Arg(60)->ArgName("samples")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DriveGRI_ColdCache)->Arg(200)->Arg(60)->ArgName("samples")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MotionMaps)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GroupCharacteristics)->Unit(benchmark::kMicrosecond);
