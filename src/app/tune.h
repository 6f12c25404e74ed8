// Tuning an installation from a rehearsal: the motion values of a recording of the room,
// measured as the player measures them in its working directory, separated into still and
// moving cycles, and the VR_threshold and VR_step that suit them. The tool orvante-tune is a
// thin shell over this.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "app/offline_run.h"

namespace orv {

// Exit codes; 1, 3 and 5 mean what they mean to orvante-replay.
constexpr int kTuneOk = kOfflineOk;
constexpr int kTuneBadArguments = kOfflineBadArguments;
constexpr int kTuneBadRecording = kOfflineBadRecording;  // the recording or the camera cannot be opened or read
constexpr int kTuneNoSeparation = 4;                     // nothing suggested, nothing written
constexpr int kTuneOutputFailed = kOfflineOutputFailed;  // a recorded frame, the plot or an --apply file not written
constexpr int kTuneNoContent = 6;                        // the working directory's set-up ended the process

struct TuneOptions {
  std::string workdir;          // working directory of the set-up; empty = the current directory
  std::string camera;           // recording to tune on (a video file or an image-sequence pattern)
  int recordSeconds = 0;        // > 0: record this long from the installation's camera first
  std::string out;              // folder of the recorded frames; empty = rehearsal/ in the working directory
  double span = 0.5;            // share of the content the median turning burst moves through, 0 < F <= 1
  bool apply = false;           // write the suggestion into ZAV_THRESHOLD.dat and the parameter file
  std::string plot;             // PNG file; empty = none
  bool verbose = false;         // show the player's start-up and console (default: the result only)
};

// "--workdir DIR (--camera PATH | --record SECONDS [--out DIR]) --span F --apply --plot FILE.png --verbose".
// false with a one-line reason on anything else, a missing value or a value out of range.
bool ParseTuneArgs(const std::vector<std::string>& args, TuneOptions* o, std::string* err);

// What a tuning run found; filled step by step, so a failed run keeps what it measured.
struct TuneResult {
  std::vector<int> sums;  // DifferenceSum of every measured frame (the first has no predecessor)
  int samplePoints = 0;   // points of the SampleStep grid
  int split = 0;          // largest motion value counted still
  int threshold = 0;      // suggested VR_threshold; 0 = none
  double step = 0.0;      // suggested VR_step; 0 = none
};

// The suggested VR_step: the median length of the bursts that turn the direction at
// `threshold` (PlayState 1, camera on) moves through `span` x `frames`; 0 when no burst turns.
// *median = that length in cycles.
double SuggestStep(const std::vector<int>& sums, int threshold, double span, int frames, double* median);

// Runs the tuning in the calling process (process-wide state: once per process). The
// suggestion and every line of the tool's own go to `out`; the console output of the player's
// set-up goes where stdout points (the tool points it at standard error).
int RunTune(const TuneOptions& o, std::FILE* out, TuneResult* result = nullptr);

}  // namespace orv
