// Operator commands and configuration state: the console monitor, the parameter file, the
// operator's teaching and its view, and the pause screen.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <opencv2/core.hpp>

#include "common/limits.h"
#include "common/platform.h"

namespace orv {

// Teaching steps named by TeachingStateText.
enum TeachStepKind : int {
  kTeachNone = 0,
  kTeachCountdown,   // "get ready" countdown before a standard motion or a pass
  kTeachStandStill,  // stillness check waiting for the performer
  kTeachGo,          // standard motion awaited
  kTeachLearned,     // standard motion learned
  kTeachPass,        // learning pass awaited
  kTeachReview,      // review of the recorded passes
  kTeachLimitsSet,   // review ended, limits set
  kTeachSaved,       // knowledge base written
  kTeachCancelled,   // ESC ended the teaching
  kTeachRefused,     // a teaching key or w was refused (TeachRefusal says why)
};
constexpr int kHeldKeysMax = 64;        // keys held back while teaching runs
constexpr double kViewAutoOffSeconds = 20.0;

struct ControlState {
  // Console monitor: 0 quiet, 1 a status line per cycle, 2 the shared-memory motion line
  // (i toggles 0/2). Non-zero also prints the "KEY FUNCTION" line of each command.
  int MonitorMode = 0;
  int VARIABLE_SIZE_FLAG = 0;  // 1: the player window sizes itself to the picture (SPACE)

  std::string EnvFile;  // parameter file last read
  // Interface image keyallocation_01.jpg from the working directory, 8-bit BGR: the pause
  // screen; empty when the file is missing.
  cv::Mat PauseImage;

  // ---- gesture-driven playback (parameter file) -----------------------------------------
  int MouseReverseFlag = 0;  // non-zero: the phase maps onto the frames backwards
  int MouseVertFlag = 0;     // read from the parameter file and kept; nothing uses it

  // ---- operator learning ---------------------------------------------------------------
  // Gesture 0..7 whose standard motion is being taught; -1 = none. While it is >= 0 the cycle
  // hands it to DriveGRI instead of -1 and ends after the status output; it returns to -1 in
  // the cycle whose judgement is that gesture with PHASE -1 (the taught motion has ended).
  int LearnGesture = -1;
  int TeachGesture = 0;      // gesture 0..7 the operator's learning keys act on (keys 0..7)
  // Automatic learning: 0 off; 1 gestures 0..AutoLearnLast; 2 gesture AutoLearnLast only.
  int AutoLearnMode = 0;
  int AutoLearnLast = 0;     // last gesture of the automatic sequence, 0..7
  // Motion values (DifferenceSum) summed over the judged frames of a taught motion and its
  // learning passes (not the review, which judges replays of the pass frames), and their count.
  int DifferenceSum2 = 0, DifferenceCnt = 0;
  // The same values one by one (moving), and the grey differences of the frames the stillness
  // check judged still (still), for the calibration at the end of automatic learning, which
  // puts VR_threshold between the two. Cleared by the standard-motion entry; values beyond
  // the capacity are not kept (a few hundred come from one automatic learning).
  std::array<int, kCalibrationValues> MovingValues{};
  int MovingCount = 0;  // 0..kCalibrationValues
  std::array<int, kCalibrationValues> StillValues{};
  int StillCount = 0;   // 0..kCalibrationValues

  // ---- teaching in progress, the operator view ----------------------------------------
  // What the teaching is doing, for TeachingStateText (one of TeachStep); set by the teaching
  // entries and by the per-cycle look at the learning state (control/teaching.cpp).
  int TeachStep = 0;
  int TeachGestureShown = -1;  // gesture 0..7 the state words name; -1 none
  int TeachStillPixels = 0;    // stillness check: pixels that still change (0..4800; 0 = still)
  int TeachPassesTotal = 0;    // passes of the learning run (N of "pass k of N"), 0 = none
  int TeachLearnedFrames = 0;  // frames of the standard motion just learned
  char TeachRefusal[96] = {};  // reason of the last refusal ("refused: ..."), NUL-terminated
  int TeachEntry = 0;          // 1 while a learning entry counts in or checks stillness
  bool CancelAsked = false;    // ESC during teaching: cancel at the next point that can
  // Keys and clicks that came while teaching held the keyboard, oldest first (codes 1..255,
  // at most kHeldKeysMax); they run one a cycle once the teaching has ended.
  std::array<int, kHeldKeysMax> HeldKeys{};
  int HeldCount = 0;
  // Learning state of the previous cycle: what changed tells the milestones apart.
  int SeenLearnGesture = -1, SeenPasses = 0, SeenReview = 0;
  // Gesture 0..7 whose followability verdict fell below the level: the view and the remote
  // state say so, in the warning colour, until the next teaching or o; the view stays on
  // meanwhile. -1 = none.
  int FollowWarning = -1;
  TimeStamp LastTeaching;      // last cycle with a teaching in progress (monotonic clock)
  // The last published judgement (ClearJudgement empties the result block every cycle):
  // gesture 0..7 or -1, its PHASE and JudgedLength.
  int ViewJudged = -1, ViewPhase = 0, ViewLength = 0;
  // The view's rates, over the last whole second of a real window: frame changes (display
  // steps that showed another frame) and cycles per second; -1 = none yet (and always in
  // headless runs, whose pace means nothing). The main loop measures them (app.RateStart).
  double ViewChangeRate = -1.0, ViewCycleRate = -1.0;
};
extern ControlState control;

// Key frames imported from the content folder's ncx_config.dat: 23,000 frame numbers, of
// which entries 0..1279 become KeyFrameNumber (0 or less = empty).
extern std::array<int32_t, 23000> PivotHistory;

}  // namespace orv
