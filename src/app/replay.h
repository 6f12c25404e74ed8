// Replay of recorded camera footage through the player's own set-up and cycle: what the
// engine makes of a recording, as a per-cycle trace and a plot, and teaching a gesture from
// a recording. The tool orvante-replay is a thin shell over this.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "app/offline_run.h"

namespace orv {

// Exit codes of a replay.
constexpr int kReplayOk = kOfflineOk;
constexpr int kReplayBadArguments = kOfflineBadArguments;
constexpr int kReplayLearningUnfinished = 2;              // --save asked while learning still ran
constexpr int kReplayBadRecording = kOfflineBadRecording;  // unreadable recording, or a frame the camera cannot use
constexpr int kReplayNoContent = 4;                       // the working directory's set-up ended the process
constexpr int kReplayOutputFailed = kOfflineOutputFailed;  // trace, plot or knowledge base not written

struct ReplayOptions {
  std::string workdir;  // working directory of the set-up; empty = the current directory
  std::string camera;   // recording: a video file or an image-sequence pattern
  int learn = -1;       // gesture 0..7 taught from the recording's first motion; -1 = none
  int passes = 0;       // learning passes after the taught motion (needs learn); 0 = none
  bool save = false;    // write the knowledge base at the end
  std::string trace;    // CSV file; empty = standard output
  std::string plot;     // PNG file; empty = none
  bool shared = false;  // use the installation's shared section (default: a private one)
  bool osc = false;     // open OSC as osc.txt says (default: none)
  bool verbose = false; // show the player's start-up and console (default: what the run produced)
};

// What marks the lines of the player's console a quiet replay shows: learning milestones,
// verdicts, warnings, errors, what was saved, and the note that a recording is scaled.
inline const std::vector<std::string> kReplayMilestones = {
    "LEARNED:", "LEARNING:", "PASS ", "REVIEW of", "VERDICT [", "WARNING", "ERROR", "SAVED:", "they are scaled to"};

// "--workdir DIR --camera PATH --learn G --passes N --save --trace FILE --plot FILE.png
// --shared --osc --verbose".
// false with a one-line reason on anything else, a missing value or a value out of range.
bool ParseReplayArgs(const std::vector<std::string>& args, ReplayOptions* o, std::string* err);

// What a cycle is traced with; taken right after the cycle's stepping.
struct TraceRow {
  long cycle = 0;  // 1 = the first cycle
  double frame_no = 0.0;
  int DifferenceSum = 0, PlayerMode = 0, mflg = 0;
  double DiffPixelCount = 0.0, rv = 0.0, rt = 0.0;
  int JudgedGesture = 0, PHASE = 0, SPEED = 0, ACCEL = 0, WIDTH = 0, JudgedLength = 0, INP_FNUM = 0;
  double SampleSpread = 0.0;
  int LearningPasses = 0, REVIEW_MODE = 0;
  // plotted, not traced
  int VR_threshold = 0, MaxCount = 0;
  int LearnGesture = -1;  // gesture whose standard motion is being taught; -1 = none
};

// The CSV header line (without line end); other tools read this format.
extern const char* const kTraceHeader;
TraceRow TakeTraceRow();
std::string FormatTraceRow(const TraceRow& r);  // one CSV line without line end

// The plot: DifferenceSum against VR_threshold, the judged gesture, PHASE relative to
// JudgedLength and frame_no relative to MaxCount over the cycles, with axes and legends.
constexpr int kPlotWidth = 1200;
constexpr int kPlotHeight = 900;
bool WritePlot(const std::string& file, const std::vector<TraceRow>& rows, const std::string& title,
               std::string* err);

// Runs the replay in the calling process (process-wide state: once per process). The trace
// goes to `trace`; every other console output of the system goes where stdout points (the
// tool points it at standard error). Returns the exit code; a set-up failure (no content,
// no shared section) ends the process with kReplayNoContent.
int RunReplay(const ReplayOptions& o, std::FILE* trace);

}  // namespace orv
