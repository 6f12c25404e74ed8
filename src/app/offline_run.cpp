// The offline run that orvante-replay and orvante-tune share: arguments, the tool's shell
// around the run, one-line failures, and the player's set-up without its window.
#include "app/offline_run.h"
#include "app/plot.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <opencv2/core/utils/logger.hpp>

#include "app/app.h"
#include "app/main_loop.h"
#include "app/app_state.h"
#include "common/display.h"
#include "common/platform.h"
#include "common/timer.h"
#include "player/player_state.h"
#include "control/control.h"
#include "kb/kb.h"
#include "player/display_step.h"
#include "player/player.h"

namespace orv {

namespace {

const char* tool = "";  // the run's tool, the first word of its messages

// The set-up ends the process from inside the player's code when the working directory has
// no content (or no shared section): what that means for the tool, as its last line.
bool inSetUp = false;
std::string setUpEndedLine;

void SetUpEnded() {
  if (!inSetUp) return;
  ShowHeldConsole({});  // the reason is in the console the set-up printed
  std::fprintf(stderr, "%s: %s\n", tool, setUpEndedLine.c_str());
}

}  // namespace

// --- arguments ---

OfflineOption TextOption(const char* name, std::string* field) {
  return {name, true, [field](const std::string& v) {
            *field = v;
            return std::string();
          }};
}

OfflineOption FlagOption(const char* name, bool* field) {
  return {name, false, [field](const std::string&) {
            *field = true;
            return std::string();
          }};
}

OfflineOption PlotOption(std::string* field) {
  return {"--plot", true, [field](const std::string& v) {
            *field = v;
            return IsPngName(v) ? "" : std::string("--plot writes a PNG file: name it FILE.png");
          }};
}

bool ParseOfflineArgs(const std::vector<std::string>& args, const std::vector<OfflineOption>& options,
                      std::string* err) {
  auto fail = [&](const std::string& why) {
    if (err) *err = why;
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const OfflineOption* o = nullptr;
    for (const OfflineOption& c : options)
      if (a == c.name) o = &c;
    if (!o) return fail("unknown argument " + a);
    if (o->takesValue && (i + 1 >= args.size() || args[i + 1].empty())) return fail(a + " needs a value");
    const std::string why = o->take(o->takesValue ? args[++i] : std::string());
    if (!why.empty()) return fail(why);
  }
  return true;
}

// --- the tool's shell ---

bool AsksForHelp(int argc, char** argv) {
  return argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h");
}

int UsageError(const char* name, const std::string& why) {
  std::fprintf(stderr, "%s: %s (--help for the usage)\n", name, why.c_str());
  return kOfflineBadArguments;
}

int KeepStandardOutput(const char* name, bool verbose) {
  const int out = ::dup(STDOUT_FILENO);
  if (out < 0 || (verbose ? ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0 : !HoldConsole())) {
    std::fprintf(stderr, "%s: cannot redirect the console: %s\n", name, std::strerror(errno));
    return -1;
  }
  return out;
}

// --- the run ---

int BeginOfflineRun(const char* name, const std::string& workdir) {
  tool = name;
  if (!workdir.empty()) {
    std::error_code ec;
    std::filesystem::current_path(workdir, ec);
    if (ec)
      return OfflineFail(kOfflineBadArguments, "cannot enter the working directory " + workdir + ": " + ec.message());
  }
  // Refusals come before the set-up has said anything: the reason is then the only line.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
  return kOfflineOk;
}

int OfflineFail(int code, const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
  return code;
}

int CheckRecording(const std::string& path, RecordingInfo* rec) {
  *rec = ProbeRecording(path);
  if (!rec->opens) return OfflineFail(kOfflineBadRecording, "cannot open the recording " + path);
  if (rec->width <= 0) return OfflineFail(kOfflineBadRecording, "the recording " + path + " delivered no frame");
  return kOfflineOk;
}

void SetUpOffline(const OfflineSetUp& s) {
  UseHeadlessDisplay();
  display.hd.copyShown = false;
  EnginePumpEvents = [] { DisplayWaitKey(1); };
  timer.SkipWaits = 1;
  player.SetUpFailureExit = s.noContentExit;
  player.PrivateSection = s.privateSection ? 1 : 0;
  app.OscAtSetUp = s.osc ? 1 : 0;
  player.StopAtCameraEnd = 1;
  CreatePlayerWindow(0, OnMouse);
  ReadCameraSettings();
  LoadInterfaceImages();
  setUpEndedLine = s.endedLine;
  inSetUp = true;
  std::atexit(SetUpEnded);
  SetUpMainLoop();
  inSetUp = false;
}

}  // namespace orv
