// Engine preparation after a load, with a full knowledge base: 51,200 pattern records and
// every learning sample valid (so each protocol map sums 6.4 million kernel values), plus
// its stages on their own.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "kb/learning_state.h"
#include "learning/learning.h"
#include "player/player_state.h"
#include "support/quiet_stdout.h"
#include "kb/kb.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

// A working folder holding the full knowledge base, made once per run.
fs::path MakeFolder() {
  char tmpl[] = "/tmp/orvante_bench_prepare_XXXXXX";
  const fs::path d = ::mkdtemp(tmpl);
  fs::current_path(d);
  FillFullKnowledgeBase(7);
  QuietStdout quiet;
  WriteKB(player.ContentNumber);
  return d;
}

const fs::path& Folder() {
  static const fs::path dir = MakeFolder();
  static const bool cleanup = (std::atexit([] { fs::remove_all(dir); }), true);
  (void)cleanup;
  return dir;
}

void BM_PrepareEngineFull(benchmark::State& state) {
  fs::current_path(Folder());
  for (auto _ : state) {
    QuietStdout quiet;
    if (PrepareEngine(player.ContentNumber)) player.PlayerMode = 0;
  }
  if (player.PlayerMode != 0) state.SkipWithError("no knowledge base loaded");
}
BENCHMARK(BM_PrepareEngineFull)->Unit(benchmark::kMillisecond);

void BM_ProtocolMaps(benchmark::State& state) {
  fs::current_path(Folder());
  for (auto _ : state)
    for (int g = 0; g < kGestures; ++g) BuildProtocolMap(g);
  state.counters["lookups_per_s"] =
      benchmark::Counter(double(state.iterations()) * kGestures * kViews * kLevels * kSeqFrames,
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ProtocolMaps)->Unit(benchmark::kMillisecond);

void BM_TemplatesAndSelection(benchmark::State& state) {
  fs::current_path(Folder());
  for (auto _ : state) {
    for (int g = 0; g < kGestures; ++g) BuildTemplate(g, 1);
    SelectViewPoints();
  }
}
BENCHMARK(BM_TemplatesAndSelection)->Unit(benchmark::kMicrosecond);

// The verdict on a taught motion of the longest length against the full knowledge base: the
// pause a teaching run sees after the standard motion and after each review, at its worst.
void BM_FollowabilityFull(benchmark::State& state) {
  FillFullKnowledgeBase(7);
  learn.GestureInfo[0].length = kSeqFrames;
  for (auto _ : state) {
    QuietStdout quiet;
    JudgeFollowability(0);
  }
}
BENCHMARK(BM_FollowabilityFull)->Unit(benchmark::kMillisecond);

// The usual case: one gesture of 40 frames, nothing else taught.
void BM_FollowabilityOneGesture(benchmark::State& state) {
  FillFullKnowledgeBase(7);
  for (auto& byGesture : learn.SampleHigh) {
    byGesture.fill(-1);
    byGesture[0] = 40;
  }
  learn.GestureInfo[0].length = 40;
  for (auto _ : state) {
    QuietStdout quiet;
    JudgeFollowability(0);
  }
}
BENCHMARK(BM_FollowabilityOneGesture)->Unit(benchmark::kMillisecond);

}  // namespace
