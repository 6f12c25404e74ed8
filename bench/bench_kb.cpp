// Knowledge-base load and save with a full set of 51,200 pattern records (about 63 MB).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/learning_state.h"
#include "learning/learning.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

// The engine logs to the console; the benchmark report must stay readable.
struct QuietStdout {
  int saved;
  QuietStdout() {
    std::fflush(stdout);
    saved = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
  }
};

// A working folder holding a full knowledge base, made once per run.
const fs::path& FullKBFolder() {
  static fs::path dir = [] {
    char tmpl[] = "/tmp/orvante_bench_kb_XXXXXX";
    fs::path d = ::mkdtemp(tmpl);
    fs::current_path(d);
    EnsurePatternStore();
    for (int m = 0; m < kViews; ++m)
      for (int g = 0; g < kGestures; ++g) {
        learn.SampleHigh[m][g] = kSeqFrames;
        for (int s = 0; s < kSeqFrames; ++s) {
          for (int i = 0; i < kSigLen; ++i) {
            Patterns->Re[m][g][s][i] = (m + 1) * 0.5 + i * 0.01 + s;
            Patterns->Ps[m][g][s][i] = (g + 1) * 0.25 + i * 0.02 + s;
          }
          PatternPresent[m][g][s] = 1;
        }
      }
    QuietStdout quiet;
    WriteKB();
    std::atexit([] { fs::remove_all(dir); });
    return d;
  }();
  return dir;
}

void BM_ReadKBFull(benchmark::State& state) {
  fs::current_path(FullKBFolder());
  for (auto _ : state) {
    QuietStdout quiet;
    benchmark::DoNotOptimize(ReadKB());
  }
  state.SetBytesProcessed(state.iterations() * 63000000LL);
}
BENCHMARK(BM_ReadKBFull)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_WriteKBFull(benchmark::State& state) {
  fs::current_path(FullKBFolder());
  for (auto _ : state) {
    QuietStdout quiet;
    WriteKB();
  }
}
BENCHMARK(BM_WriteKBFull)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace
