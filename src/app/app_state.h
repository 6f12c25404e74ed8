// Application core state: start-up, main loop, motion measure and shared link,
// mouse input, frame display and key-frame detection, gesture-driven playback.
#pragma once
#include <array>
#include <cstdint>
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

struct AppState {
  // ---- start-up ------------------------------------------------------------
  int ArgCount = 0;  // words of the command line, program path included; 2+ = batch copy
  int LinkSlot = 1;  // ArgName slot that receives a frame's link-image path (display step)
  // Interface images from the working directory, 8-bit BGR; empty when the file is missing.
  // The side pair (to_left.jpg, to_right.jpg) is replaced by a frame's link image and shown
  // by no one; PauseImage (keyallocation_01.jpg) is the pause screen.
  cv::Mat SideImageLeft, SideImageRight, PauseImage;

  // ---- main loop -------------------------------------------------------------
  double f_rate = 0.0;  // 1 / seconds since the last StartTimer, at most 999. The status
                        // output restarts the timer, so in player mode it is the rate of
                        // display, key poll and commands alone, not of the whole cycle
  int PlayerMode = 1;       // 1 motion player (StepPlayer), 0 gesture-driven (GestureStep)
  int PendingKey = 0;       // key code 1..255 injected by the mouse or a random jump, run at
                            // the next command step instead of the typed key; 0 = none
  int PreviewMode = 2;      // 1: the preview shows the recognizer's 80x60 frame; other values
                            // leave it to the capture. Set to 2 after start-up and camera off
  cv::Mat CameraPreview;    // 80x60 grey preview image, created by the set-up
  TimeStamp TimerStart, TimerStop;  // the cycle timer's pair of stamps (monotonic clock)
  long Cycle = 0;           // cycles run since the set-up (headless scripts key on it)
  bool EndRequested = false;  // the loop returns at the end of this cycle
  int ExitCode = 0;           // what main returns once the loop has ended
  // Set-up failures that end the process (no shared section, no content) end it with this
  // code: 0 is the player's own rule; a tool for which they are failures sets its own.
  int SetUpFailureExit = 0;
  // 1 = nothing waits: WaitOneSecond returns at once, and learning starts without countdown or
  // stillness check. For replays of recorded footage, where a wait only costs time and a
  // stillness check would read frames meant for the cycles. 0 (default) = the player's waits.
  int SkipWaits = 0;
  // 1 = the shared section is this process's own, without a name: a replay or a tuning run in
  // an installation's working directory neither clears nor feeds the installation's motion
  // values. 0 (default) = the section SharedMemoryName() names, shared with the other copies.
  int PrivateSection = 0;
  // 1 (default) = the set-up opens OSC as osc.txt says; 0 = no OSC whatever the file says
  // (replays and tuning: their motion is not the room's).
  int OscAtSetUp = 1;

  // ---- motion measure and shared section ---------------------------------------
  int DifferenceSum = 0;  // motion of this cycle: sum of |grey difference| of the two camera
                          // buffers on a SampleStep grid (0..76,800*255); without camera the
                          // sum the other copies publish (SI.DiffSum), or 0
  // This process's copy of the 256 words of the shared section: word 0 SI.DiffSum (sum of
  // words 1..32, 32-bit wrap-around), word 1+n the motion of the copy using camera n (0..31),
  // words 33..255 unused. Copied in and out whole; the section itself is little-endian.
  std::array<int32_t, kSharedWords> SharedMirror{};
  volatile int32_t* SharedView = nullptr;  // mapped section, kept for the life of the process
  int SharedSize = kSharedSize;            // bytes of the section (1024)
  // Word (1..32) this copy's camera last published its value in; 0 = none. The word is set
  // back to 0 when the camera goes off or the copy ends, so nobody follows a stale value.
  int PublishedWord = 0;
  // The liveness section beside it (`<name>.alive`): record c (little-endian 64 bits) names the
  // process that last wrote word 1+c as process id (low 22 bits) and start time in clock ticks
  // since boot (high 42 bits), so a reused id is not taken for the writer; 0 = no record (older
  // builds, tests, remote values), which counts as alive. A word whose writer has ended counts 0.
  volatile uint64_t* AliveView = nullptr;
  uint64_t OwnAliveRecord = 0;  // this process's record, formed when the sections are opened

  // ---- frame display and key-frame detection -------------------------------------
  double RedrawMark = -1.0;  // frame_no shown last; -1.0 forces the next display step to draw
  int SameFrameCount = 0;    // display steps in a row that showed the same frame
  int flip_mode = 0;         // 0 as stored, 1 mirrored left-right, 2 upside down (file only)
  // Revisit score per frame: +1.0 on each arrival, -1/30 per cycle, never below 0. Above 5.0
  // the frame counts as a key frame (KeyFrameMode decides what follows).
  std::array<double, kMaxFrames> FrameMotion{};
  double ScorePrevFrame = 0.0;  // frame_no at the last revisit increment
  // Scores outside [ScoreLow, ScoreHigh) are all 0, so the per-cycle decay and the
  // search skip them. Whoever writes a non-zero score widens the range.
  int ScoreLow = 0, ScoreHigh = kMaxFrames;
  // Replay period, frames StartFrameNum..EndFrameNum: bounds gesture-driven playback and the
  // z/x steps while StartFrameNum < EndFrameNum and one of them is above 0; 0/0 = none.
  int StartFrameNum = 0, EndFrameNum = 0;

  // ---- gesture-driven playback --------------------------------------------------------
  // Per gesture, outcomes of its last 30 judgements, newest first: 1 = SampleSpread was above
  // OK_VAR, 2 = within it, 0 = no entry yet.
  std::array<std::array<int, 30>, kGestures> OkHistory{};
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
  int TeachCountdown = 0;      // countdown number being shown, 5..1 (3..1 between passes)
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
  // Operator view: 0 off, 1 on by the o key (stays until o), 2 on by a teaching (goes off
  // kViewAutoOffSeconds after the last teaching cycle, or by o).
  int OperatorView = 0;
  // Gesture 0..7 whose followability verdict fell below the level: the view and the remote
  // state say so, in the warning colour, until the next teaching or o; the view stays on
  // meanwhile. -1 = none.
  int FollowWarning = -1;
  TimeStamp LastTeaching;      // last cycle with a teaching in progress (monotonic clock)
  // The picture the display step showed last (a reference to the frame cache or the mirror
  // scratch, not a copy); the operator view is drawn on a copy of it.
  cv::Mat ShownFrame;
  // The last published judgement (ClearJudgement empties the result block every cycle):
  // gesture 0..7 or -1, its PHASE and JudgedLength.
  int ViewJudged = -1, ViewPhase = 0, ViewLength = 0;
  // The view's rates, over the last whole second of a real window: frame changes (display
  // steps that showed another frame) and cycles per second; -1 = none yet (and always in
  // headless runs, whose pace means nothing). FrameChanges counts display steps that showed
  // another frame since the set-up; RateStart, RateCycles and RateChanges begin the second.
  double ViewChangeRate = -1.0, ViewCycleRate = -1.0;
  long FrameChanges = 0;
  TimeStamp RateStart;
  long RateCycles = 0, RateChanges = 0;

  // Called once per cycle right after the status output, while the judgement of the cycle is
  // still in the result block (tracing tools); nullptr = none.
  void (*AfterStatus)() = nullptr;
};
extern AppState app;

// Command-line slots: 22,000 NUL-terminated names of 250 bytes (slot 0 the program path,
// slot k the k-th argument, cut at 249 bytes). Kept apart from AppState because of its size
// (5.5 MB must not be built on the stack by a reset).
using NameSlot = std::array<char, kNameSize>;
extern std::array<NameSlot, kMaxFrames> ArgName;

}  // namespace orv
