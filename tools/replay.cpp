// Replays recorded camera footage through the player's own set-up and cycle, headless.
//   orvante-replay [--workdir DIR] --camera PATH [--learn G] [--passes N] [--save]
//                  [--trace FILE] [--plot FILE.png] [--shared] [--osc] [--verbose]
// The trace (CSV) goes to standard output unless --trace names a file. Standard error gets
// what the run produced (learning milestones, verdicts, files written, a last line with the
// cycles and the trace), warnings and errors; with --verbose, all of the player's console.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/replay.h"
#include "common/platform.h"

using namespace orv;

namespace {

constexpr const char* kUsage =
    "usage: orvante-replay [--workdir DIR] --camera PATH [--learn G] [--passes N] [--save]\n"
    "                      [--trace FILE] [--plot FILE.png] [--shared] [--osc] [--verbose]\n"
    "  --shared  use the installation's shared section (default: one of its own)\n"
    "  --osc     open OSC as osc.txt says (default: none)\n"
    "  --verbose the player's start-up and whole console on standard error\n";

constexpr const char* kTool = "orvante-replay";

}  // namespace

int main(int argc, char** argv) {
  ReplayOptions o;
  std::string err;
  if (AsksForHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!ParseReplayArgs(std::vector<std::string>(argv + 1, argv + argc), &o, &err)) return UsageError(kTool, err);

  // The trace keeps the real standard output; the player's console log goes to standard error
  // (--verbose) or is held for RunReplay to show what the run produced.
  const int out = KeepStandardOutput(kTool, o.verbose);
  if (out < 0) return kReplayOutputFailed;
  // The replay works in its working directory; names given here are the caller's.
  if (!o.trace.empty()) o.trace = std::filesystem::absolute(o.trace).string();
  // A trace file is written beside its name and renamed when complete: no half file in its place.
  const std::string tmp = o.trace.empty() ? std::string() : o.trace + ".tmp";
  std::FILE* trace = o.trace.empty() ? ::fdopen(out, "w") : std::fopen(tmp.c_str(), "w");
  if (!trace) return UsageError(kTool, "cannot write the trace " + (o.trace.empty() ? "to standard output" : o.trace));
  if (!o.trace.empty()) ::close(out);

  ConsoleInit();
  int code = RunReplay(o, trace);
  const bool written = std::fflush(trace) == 0 && !std::ferror(trace) && (o.trace.empty() || ::fsync(fileno(trace)) == 0);
  std::fclose(trace);
  if (!o.trace.empty()) {
    if (written && std::rename(tmp.c_str(), o.trace.c_str()) == 0) return code;
    std::remove(tmp.c_str());
    std::fprintf(stderr, "orvante-replay: cannot write the trace %s\n", o.trace.c_str());
    return code == kReplayOk ? kReplayOutputFailed : code;
  }
  return code;
}
