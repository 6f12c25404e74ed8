// What orvante-replay and orvante-tune share: a run of the player's own set-up and code in
// this process, headless, on a recording; the tool's arguments, number parsing, console
// hand-over and one-line failures.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace orv {

struct RecordingInfo;

// Exit codes both tools give alike.
constexpr int kOfflineOk = 0;
constexpr int kOfflineBadArguments = 1;
constexpr int kOfflineBadRecording = 3;  // the recording cannot be opened or read
constexpr int kOfflineOutputFailed = 5;  // something the run was to write is not written

// --- arguments ---


// One option of a tool: its name, whether a value follows it, and what it does with the value
// (empty for a flag): the reason when it refuses it, else empty.
struct OfflineOption {
  const char* name;
  bool takesValue;
  std::function<std::string(const std::string& value)> take;
};
// The common kinds: a value kept as given, a flag, and --plot (a FILE.png name).
OfflineOption TextOption(const char* name, std::string* field);
OfflineOption FlagOption(const char* name, bool* field);
OfflineOption PlotOption(std::string* field);
// false with a one-line reason on an unknown argument, a missing or empty value, or a refused one.
bool ParseOfflineArgs(const std::vector<std::string>& args, const std::vector<OfflineOption>& options,
                      std::string* err);

// --- the tool's shell ---

bool AsksForHelp(int argc, char** argv);  // the only argument is --help or -h
// "TOOL: why (--help for the usage)", one line: a script reads the reason from the last line
// of the errors. Returns kOfflineBadArguments.
int UsageError(const char* tool, const std::string& why);
// A copy of standard output for the tool's own output, and the player's console moved away
// from it: to standard error (verbose) or held for the run to show what matters. The copy's
// descriptor, or -1 after the failure line.
int KeepStandardOutput(const char* tool, bool verbose);

// --- the run ---

// Every later message of the run starts with `tool`; enters the working directory (empty:
// stays). kOfflineOk, or kOfflineBadArguments after the failure line.
int BeginOfflineRun(const char* tool, const std::string& workdir);
// "TOOL: message" on standard error after whatever the player printed; returns code.
int OfflineFail(int code, const std::string& message);
// The recording opens and delivers a frame: kOfflineOk, else kOfflineBadRecording after the
// failure line.
int CheckRecording(const std::string& path, RecordingInfo* rec);

// The player's start, minus its window and its waits: the recording ends the run.
struct OfflineSetUp {
  int noContentExit;       // the exit code when the working directory's set-up ends the process
  std::string endedLine;   // what the tool says then, after the console the set-up printed
  bool privateSection;     // a shared section of its own, not the installation's
  bool osc;                // OSC opened as osc.txt says
};
void SetUpOffline(const OfflineSetUp& s);

}  // namespace orv
