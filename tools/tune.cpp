// Tunes an installation from a rehearsal: the motion threshold and frame step that separate
// the room standing still from people moving in it, measured as the player measures.
//   orvante-tune [--workdir DIR] (--camera PATH | --record SECONDS [--out DIR]) [--span F]
//                [--apply] [--plot FILE.png] [--verbose]
// The suggestion goes to standard output; the console output of the player's set-up goes to
// standard error with --verbose (without it, only its warnings and errors do).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/tune.h"
#include "common/platform.h"

using namespace orv;

namespace {

constexpr const char* kUsage =
    "usage: orvante-tune [--workdir DIR] (--camera PATH | --record SECONDS [--out DIR]) [--span F]\n"
    "                    [--apply] [--plot FILE.png] [--verbose]\n"
    "  --camera PATH     a recording of the room (video file or image sequence such as cam_%04d.png)\n"
    "  --record SECONDS  record from the installation's camera first (into DIR, default rehearsal/)\n"
    "  --span F          share of the content one turning burst moves through (default 0.5)\n"
    "  --apply           write the suggestion into ZAV_THRESHOLD.dat and the parameter file\n"
    "  --plot FILE.png   histogram and time series of the motion with the suggestion\n"
    "  --verbose         show the player's start-up and console on standard error\n";

constexpr const char* kTool = "orvante-tune";

}  // namespace

int main(int argc, char** argv) {
  if (AsksForHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  TuneOptions o;
  std::string err;
  if (!ParseTuneArgs(std::vector<std::string>(argv + 1, argv + argc), &o, &err)) return UsageError(kTool, err);

  // The suggestion keeps the real standard output; the player's console log goes to standard
  // error with --verbose, else it is held and only its warnings and errors are shown.
  const int out = KeepStandardOutput(kTool, o.verbose);
  std::FILE* report = out < 0 ? nullptr : ::fdopen(out, "w");
  if (!report) {
    if (out >= 0) std::fprintf(stderr, "%s: cannot redirect the console: %s\n", kTool, std::strerror(errno));
    return kTuneOutputFailed;
  }
  ConsoleInit();
  const int code = RunTune(o, report);
  ShowHeldConsole({"WARNING", "ERROR"});
  std::fclose(report);
  return code;
}
