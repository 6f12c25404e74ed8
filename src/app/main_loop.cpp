// The one loop of the program: set-up, then the same cycle until the operator ends it.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/app_state.h"
#include "control/control_state.h"
#include "common/display.h"
#include "kb/learning_state.h"
#include "common/platform.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "control/control.h"
#include "control/osc.h"
#include "learning/learning.h"
#include "player/player.h"
#include "recognition/recognition.h"
#include "app/gesture_playback.h"
#include "app/main_loop.h"
#include "common/timer.h"
#include "control/operator_view.h"
#include "control/teaching.h"
#include "player/display_step.h"
#include "player/frame_cache.h"
#include "player/motion.h"

namespace orv {

void (*AfterCycleStepping)() = nullptr;

// The loop's end-of-cycle reset is the recognizer's own result-block reset.
void ClearJudgement() { ResetResultBlock(); }

void SetUpMainLoop() {
  EngineShowText = ShowLearningText;  // pass countdowns appear over the player window too
  EngineWait = HandOffWait;           // and the waits between passes read keys and redraw
  player.CameraPreview = cv::Mat(kGriH, kGriW, CV_8UC1, cv::Scalar(0));
  std::printf("\n");
  OpenSharedMemory();
  if (app.OscAtSetUp) OpenOsc();

  ResetRecognition();
  for (int g = 0; g < kGestures; ++g) InitGestureSlot(g);

  learn.NEROI = 32;
  learn.SKIP = 1.0;
  learn.RSKIP = 1.0;
  FillDirectionTables();
  BuildKernelTables();
  ResetEngineCaches();
  ResetGestureTables();
  ClearJudgement();
  ResetTemplates();

  const int s = player.SampleStep >= 1 ? player.SampleStep : 1;
  player.VR_threshold = 153600 / (s * s);
  std::printf("The system is starting up. This may take a while.\n\n");

  // The parameter file is read before and after the content check: the second
  // read sees the content number the check settled on.
  LoadEnv();
  if (PrepareEngine(player.ContentNumber)) player.PlayerMode = 0;
  CheckContent();
  LoadEnv();
  if (PrepareEngine(player.ContentNumber)) player.PlayerMode = 0;

  ShowFunctionList();
  StartTimer();
  player.PreviewMode = 2;
  player.PendingKey = 0;
  app.Cycle = 0;
}

void PlayerStatus() {
  if (control.MonitorMode == 1 || control.MonitorMode == 2) CopySharedIn();
  if (control.MonitorMode == 1) {
    std::printf(
        "[S%d] [%5d /%5d] [DifferenceSum=%7d (SI.DiffSum=%7d )] [VR_threshold= %d ] "
        "[VR_step=%6.2f ] [f_rate=%6.2f [fps]]\n",
        player.ContentNumber + 1, static_cast<int>(player.frame_no), player.MaxCount - 1,
        player.DifferenceSum, player.SharedMirror[0], player.VR_threshold, player.VR_step, app.f_rate);
  } else if (control.MonitorMode == 2) {
    std::printf("*[SI.DiffSum=%7d ]", player.SharedMirror[0]);
    for (int j = 0; j < 32; ++j)
      if (player.SharedMirror[1 + j] > 0) std::printf("[WebCam( %2d ) =%7d ]", j, player.SharedMirror[1 + j]);
    PrintOscStatus();
    std::printf("\n");
  }
  // In player mode the next f_rate covers only display, keyboard and commands.
  StartTimer();
  if (control.MonitorMode == -1) control.MonitorMode = 0;
}

bool CaptureAndMeasure() {
  ZAV_Capture();
  if (player.CameraEnd != 0) return false;
  MeasureMotion();
  return true;
}

// The operator view's rates, once per second of a real window.
static void MeasureRates() {
  if (display.headless) return;
  const TimeStamp now = NowStamp();
  const double seconds = ElapsedSeconds(app.RateStart, now);
  if (seconds < 1.0) return;
  if (app.RateCycles > 0) {  // the first call only starts the count
    control.ViewCycleRate = static_cast<double>(app.Cycle - app.RateCycles) / seconds;
    control.ViewChangeRate = static_cast<double>(player.FrameChanges - app.RateChanges) / seconds;
  }
  app.RateStart = now;
  app.RateCycles = app.Cycle;
  app.RateChanges = player.FrameChanges;
}

bool RunCycle() {
  display.cycle = ++app.Cycle;
  MeasureRates();

  const bool camera = player.CameraOn != 0;
  player.BurstFlip = camera ? kBurstFlipCameraOn : 5;
  player.BurstReset = camera ? kBurstResetCameraOn : 2;
  player.CamOnMemory = 1;
  if (player.PlayState == 0) player.PlayState = 1;

  app.f_rate = StopTimer();
  StartTimer();

  TeachingCycleStart();
  // Remote cameras enter the section before this cycle's measure reads it.
  ReceiveOsc();
  // A z/x step requested by the player is served without a camera frame.
  if (player.PendingKey != 'z' && player.PendingKey != 'x') {
    if (!CaptureAndMeasure()) return false;  // a replay's recording has ended
    if (player.PlayerMode == 0)
      GestureStep();
    else if (player.PlayerMode == 1)
      StepPlayer();
  }
  if (AfterCycleStepping) AfterCycleStepping();
  TeachingAfterStep();
  // Motion, the shown frame, the judgement just published and the count, to other machines.
  SendOsc();

  if (player.PreviewMode == 1) {
    const auto& g = recog.GrayFrame[recog.GrayFrameIndex & 1];
    for (int r = 0; r < kGriH; ++r) std::memcpy(player.CameraPreview.ptr(r), g.data() + r * kGriW, kGriW);
  }

  if (player.PlayerMode == 1)
    PlayerStatus();
  else if (player.PlayerMode == 0)
    GestureStatus();
  if (app.AfterStatus) app.AfterStatus();

  // While a motion is being taught, a learning pass or its review runs, the cycle only shows
  // the view and reads keys besides what it did before (no key-frame step, no command, no
  // threshold re-read), so the engine sees exactly the same. Keys wait until the teaching
  // ends; ESC cancels it. A motion can only come from a camera: with the camera off the whole
  // cycle runs, so q can switch it on.
  const bool awaitingMotion = learn.LearningPasses >= 1 || control.LearnGesture >= 0;
  if (engine.REVIEW_MODE != 0 || (awaitingMotion && player.CameraOn != 0)) {
    ShowOperatorView();
    PollKey(1);
    return CancelPoint();
  }

  if (!DisplayFrame()) {
    app.ExitCode = 1;  // a frame that cannot be shown is a failure, not a normal end
    return false;
  }
  ScoreKeyFrames();
  PlanReadAhead();
  ShowOperatorView();

  const int key = PollKey(1);
  if (!CancelPoint()) return false;
  if (!DispatchKey(key)) return false;

  player.PendingKey = 0;
  ClearJudgement();
  AutoLearningStep();
  if (!CancelPoint()) return false;
  return !app.EndRequested;
}

namespace {

// ORVANTE_CYCLE_LOG=FILE, for benchmarks (tools/bench-window.sh): one line per cycle with its
// start (microseconds of the monotonic clock since the first cycle), its own time (microseconds,
// the wait for a paced recording's next frame left out), the frame on screen, the frame changes
// so far and the frames taken from the read-ahead cache and decoded on the cycle so far. Written
// a line at a time, so that a benchmark may end the player at any moment. Unset: nothing.
// The frame the display step showed last; -1 before the first.
int ShownFrame() {
  const double x = player.RedrawMark;
  return x >= 0.0 && x < static_cast<double>(kMaxFrames) ? static_cast<int>(x) : -1;
}

struct CycleLog {
  std::FILE* file = nullptr;
  TimeStamp first;
  CycleLog() {
    const std::string name = EnvOr("ORVANTE_CYCLE_LOG", "");
    if (name.empty()) return;
    file = std::fopen(name.c_str(), "w");
    if (file == nullptr) std::fprintf(stderr, "WARNING: cannot write the cycle log %s\n", name.c_str());
    if (file != nullptr) std::setvbuf(file, nullptr, _IOLBF, 0);
  }
  ~CycleLog() {
    if (file != nullptr) std::fclose(file);
  }
  CycleLog(const CycleLog&) = delete;
  CycleLog& operator=(const CycleLog&) = delete;
  void Write(const TimeStamp& start, const TimeStamp& end) {
    if (app.Cycle == 1) first = start;
    // The counts are the cycle's own: only this thread writes them.
    std::fprintf(file, "%ld %lld %lld %d %ld %ld %ld\n", app.Cycle, static_cast<long long>(ElapsedMicros(first, start)),
                 static_cast<long long>(ElapsedMicros(start, end) - player.CameraWaitMicros), ShownFrame(),
                 player.FrameChanges, frameCache.Hits, frameCache.Misses);
  }
};

}  // namespace

int RunMainLoop() {
  SetUpMainLoop();
  if (app.CameraAtStart) TurnCameraOn();  // a camera that does not open goes off at the first capture
  CycleLog log;
  for (;;) {
    const TimeStamp start = log.file != nullptr ? NowStamp() : TimeStamp{};
    player.CameraWaitMicros = 0;
    if (!RunCycle()) break;
    if (log.file != nullptr) log.Write(start, NowStamp());
  }
  return app.ExitCode;
}

}  // namespace orv
