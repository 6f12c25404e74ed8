// Knowledge-base load and save with a full set of 51,200 pattern records (about 63 MB).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "player/player_state.h"
#include "support/quiet_stdout.h"
#include "kb/kb.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

// A working folder holding a full knowledge base, made once per run.
const fs::path& FullKBFolder() {
  static fs::path dir = [] {
    char tmpl[] = "/tmp/orvante_bench_kb_XXXXXX";
    fs::path d = ::mkdtemp(tmpl);
    fs::current_path(d);
    FillFullKnowledgeBase(1);
    QuietStdout quiet;
    WriteKB(player.ContentNumber);
    std::atexit([] { fs::remove_all(dir); });
    return d;
  }();
  return dir;
}

void BM_ReadKBFull(benchmark::State& state) {
  fs::current_path(FullKBFolder());
  for (auto _ : state) {
    QuietStdout quiet;
    benchmark::DoNotOptimize(ReadKB(player.ContentNumber));
  }
  state.SetBytesProcessed(state.iterations() * 63000000LL);
}
BENCHMARK(BM_ReadKBFull)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_WriteKBFull(benchmark::State& state) {
  fs::current_path(FullKBFolder());
  for (auto _ : state) {
    QuietStdout quiet;
    WriteKB(player.ContentNumber);
  }
}
BENCHMARK(BM_WriteKBFull)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace
