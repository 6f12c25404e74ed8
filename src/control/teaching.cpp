// The teaching from the player window: its keys and the one key poll (PollKey), the waits and
// the stillness check, the learning entries (standard and similar motion), the save, and the
// teaching state in words. The cancel and its snapshot are in teaching_cancel.cpp, automatic
// learning and its calibration in auto_learning.cpp.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "control/control_state.h"
#include "common/display.h"
#include "kb/learning_state.h"
#include "common/limits.h"
#include "common/platform.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "learning/learning.h"
#include "player/motion.h"
#include "player/player.h"
#include "recognition/recognition.h"
#include "common/timer.h"
#include "control/control.h"
#include "control/operator_view.h"
#include "control/osc.h"
#include "control/teaching.h"
#include "kb/banners.h"
#include "kb/kb.h"

namespace orv {

namespace {

constexpr int kCountdownSteps = 5;
constexpr int kCountdownStepMs = 120;  // CountdownUnit counts in these
constexpr int kStillRounds = 30;       // stillness check: rounds ...
constexpr int kStillFramesPerRound = 10;  // ... of at most this many captured frames
constexpr int kPollSliceMs = 50;          // waits read keys and redraw at least this often

// --- held keys ---

void PushHeld(int key) {
  if (key < 1 || key > 255) return;
  if (control.HeldCount >= kHeldKeysMax) return;  // a full buffer drops, as a keyboard buffer does
  control.HeldKeys[static_cast<size_t>(control.HeldCount++)] = key;
}

int PopHeld() {
  if (control.HeldCount <= 0) return 255;
  const int k = control.HeldKeys[0];
  std::copy(control.HeldKeys.begin() + 1, control.HeldKeys.begin() + control.HeldCount, control.HeldKeys.begin());
  --control.HeldCount;
  return k;
}

// Teaching holds the keyboard while it runs with the camera on (or reviews): keys then wait.
// With the camera off, a motion could never come, so keys run at once and q can switch it on.
bool TeachingHoldsKeys() { return TeachingActive() && (player.CameraOn != 0 || engine.REVIEW_MODE != 0); }

// A key that acts at once while a teaching holds the keyboard (the command table says which).
bool ActsDuringTeaching(int key) {
  const Command* c = FindCommand(key);
  return c && (c->flags & kDuringTeaching);
}

// --- helpers of the entries ---

void Lines(std::initializer_list<const char*> lines) {
  for (const char* l : lines) std::fputs(l, stdout);
}

void StopBanner() {
  Lines({"\n OOOO  OOOOO   OOO   OOOO  \n", "O        O    O   O  O   O \n", "O        O    O   O  O   O \n",
         " OOO     O    O   O  OOOO  \n", "    O    O    O   O  O     \n", "    O    O    O   O  O     \n",
         "OOOO     O     OOO   O     \n"});
}

void Bell() {
  if (learn.CamBeep) std::printf("\a\n");
}

bool AnythingTaught() {
  for (int g = 0; g < kGestures; ++g)
    if (HasStandardMotion(g)) return true;
  return false;
}

double SecondsSince(const TimeStamp& t) { return ElapsedSeconds(t, NowStamp()); }

void Refuse(const char* reason) {
  std::snprintf(control.TeachRefusal, sizeof control.TeachRefusal, "%s", reason);
  control.TeachStep = kTeachRefused;
}

// What both entries share before the gesture's own preparation: full-resolution steps,
// every view point, then the selection of the view points to use.
void PrepareViews() {
  learn.RSKIP = 1.0;
  learn.SKIP = 1.0;
  FillDirectionTables();
  learn.UseRoiMask = 0;
  learn.NEROI = 32;
  SelectViewPoints();
}

// Countdown and the "LEARNING" line; interactive runs also wait for the performer to
// stand still, so that the taught motion starts from rest. false: the teaching was cancelled.
bool CountIn(const char* kind, int g, bool interactive) {
  const std::string name = GestureName(g);
  char text[160];
  Bell();
  control.TeachGestureShown = g;
  control.FollowWarning = -1;
  if (interactive) {
    control.TeachEntry = 1;
    OperatorViewForTeaching();
    control.TeachStep = kTeachCountdown;
    for (int n = kCountdownSteps; n >= 1; --n) {
      learning.TeachCountdown = n;
      std::snprintf(text, sizeof text, "---> START THE LEARNING OF %s BODY MOTION for [ %s ]. GET READY! (%d)",
                    kind, name.c_str(), n);
      ShowLearningText(text);
      if (!TeachingWait(std::max(1, learn.CountdownUnit * kCountdownStepMs), false)) return control.TeachEntry = 0, false;
    }
    learning.TeachCountdown = 0;
  }
  std::snprintf(text, sizeof text, "*** LEARNING %s BODY MOTION for [ %s ] ***", kind, name.c_str());
  ShowLearningText(text);
  if (interactive) {
    if (engine.REVIEW_MODE == 0 && !StillnessCheck()) return control.TeachEntry = 0, false;
    if (!TeachingWait(1, false)) return control.TeachEntry = 0, false;
  }
  control.TeachEntry = 0;
  return true;
}

// Learning needs a camera and no other learning run; says why not otherwise.
bool ReadyToLearn() {
  if (LearningPending()) {
    std::printf("LEARNING: a learning run is still going on; wait until it has ended.\n");
    Refuse("a learning run is still going on");
    return false;
  }
  if (player.CameraOn == 0) {
    std::printf("LEARNING: switch the camera on first (q): a motion is taught in front of the camera.\n");
    Refuse("switch the camera on first (q)");
    return false;
  }
  return true;
}

// The verdict just measured on gesture g: below the level it becomes the view's warning.
void NoteFollowability(int g) {
  const int score = learning.Followability[static_cast<size_t>(g)];
  if (score >= 0 && score < kFollowableLevel)
    control.FollowWarning = g;
  else if (control.FollowWarning == g)
    control.FollowWarning = -1;
}

}  // namespace

// --- what has been taught ---

bool HasStandardMotion(int g) {
  for (int v = 0; v < kViews; ++v)
    if (PatternPresent[static_cast<size_t>(v)][static_cast<size_t>(g)][0]) return true;
  return false;
}

bool LearningPending() { return control.LearnGesture >= 0 || learn.LearningPasses >= 1 || engine.REVIEW_MODE != 0; }

// --- the teaching's keys and the key poll ---

bool TeachingActive() { return control.TeachEntry != 0 || LearningPending() || control.AutoLearnMode > 0; }

void TeachingKey(int key) {
  if (key == kKeyEsc) {
    control.CancelAsked = true;
    return;
  }
  PushHeld(key);
}

int PollKey(int ms) {
  if (TeachingActive()) {
    // The network is read in a teaching's own waits too: status requests are answered, a remote
    // ESC cancels as a typed one does, and while the keyboard is held remote keys are held with
    // the typed ones, in the order they came (a threshold command waits in its own queue).
    ReceiveOsc();
    if (TakeRemoteEsc()) TeachingKey(kKeyEsc);
    for (int k = 0; TeachingHoldsKeys() && (k = TakeRemoteKey()) != 0;) TeachingKey(k);
  }
  const int pendingBefore = player.PendingKey;
  const int key = KeyCode(DisplayWaitKey(ms));
  // A click during the wait left its key pending; it takes its turn like a typed key.
  int clicked = 0;
  if (player.PendingKey != pendingBefore && player.PendingKey >= 1 && player.PendingKey <= 255) clicked = player.PendingKey;
  const bool typed = key != 255 && key != 0;
  if (TeachingHoldsKeys() || (typed && ActsDuringTeaching(key) && TeachingActive())) {
    if (typed) TeachingKey(key);
    if (clicked) TeachingKey(clicked), player.PendingKey = pendingBefore;
    return 255;
  }
  if (control.HeldCount == 0) return key;
  // Keys held during a teaching run first, one a cycle, in the order they came.
  if (typed) PushHeld(key);
  if (clicked) PushHeld(clicked), player.PendingKey = pendingBefore;
  return PopHeld();
}

bool LearningKey(int key) {
  if (key >= '0' && key <= '7') {
    control.TeachGesture = key - '0';
    std::printf("SET: Gesture to teach = [ %d ] [ %s ]\n", control.TeachGesture, GestureName(control.TeachGesture).c_str());
    return true;
  }
  const int g = std::clamp(control.TeachGesture, 0, kGestures - 1);
  switch (key) {
    case 'g':
      KeyLine("KEY FUNCTION : [g][ Teach the Standard Motion of the Chosen Gesture ]\n");
      if (ReadyToLearn()) StandardMotionEntry(g, true);
      return true;
    case 's':
      KeyLine("KEY FUNCTION : [s][ One Learning Pass with a Similar Motion ]\n");
      if (!ReadyToLearn()) return true;
      if (!HasStandardMotion(g)) {
        std::printf("LEARNING: gesture %d [ %s ] has no standard motion yet; teach it first (g).\n", g,
                    GestureName(g).c_str());
        Refuse(("[" + GestureName(g) + "] has no standard motion yet; teach it first (g)").c_str());
        return true;
      }
      SimilarMotionEntry(g, 1, true);
      return true;
    case 'a':
      KeyLine("KEY FUNCTION : [a][ Automatic Learning of the Chosen Gesture ]\n");
      if (!ReadyToLearn()) return true;
      control.AutoLearnLast = g;
      control.AutoLearnMode = 2;
      control.TeachGestureShown = g;
      OperatorViewForTeaching();
      return true;
    case 'w':
      KeyLine("KEY FUNCTION : [w][ Save the Knowledge Base ]\n");
      SaveKnowledgeBase();
      return true;
    default:
      return false;
  }
}

void ShowLearningKeys() {
  const std::string rule = " " + std::string(80, '-');
  const int g = std::clamp(control.TeachGesture, 0, kGestures - 1);
  std::printf("                       [ Gesture learning keys ]\n\n");
  std::printf("     [ 0 .. 7 ]  choose the gesture to teach (now %d [ %s ])\n", g, GestureName(g).c_str());
  std::printf("     [ g ]       teach its standard motion: countdown, stand still, perform it once\n");
  std::printf("     [ s ]       one learning pass: perform a similar motion once; the review follows\n");
  std::printf("     [ a ]       automatic learning of the chosen gesture (g, then s), then VR_step and\n");
  std::printf("                 VR_threshold are calibrated from it\n");
  std::printf("     [ w ]       save the knowledge base (HOLVA_data-%d-1..4.dat)\n", player.ContentNumber + 1);
  std::printf("     [ESC]       while teaching: cancel it (all as before its key), then pause\n");
  std::printf("     [ o ]       operator view over the picture: teaching state, motion, gestures\n");
  std::printf("%s\n\n", rule.c_str());
}

// --- waits and the stillness check ---

bool TeachingWait(int ms, bool onClock) {
  const TimeStamp start = NowStamp();
  for (;;) {
    const int left = ms - static_cast<int>(SecondsSince(start) * 1000.0);
    const int slice = std::clamp(left, 1, kPollSliceMs);
    PollKey(slice);
    ShowOperatorView();
    if (control.CancelAsked) return false;
    // The headless display answers at once: a wait on the clock sleeps for it, a key wait
    // (the countdown) is over, as it is for the headless display's own waits.
    if (display.headless) {
      if (!onClock) return true;
      if (left > 0) {
        const timespec nap{0, static_cast<long>(slice) * 1000000L};
        nanosleep(&nap, nullptr);
      }
    }
    if (ms - static_cast<int>(SecondsSince(start) * 1000.0) <= 0) return true;
  }
}

bool HandOffWait(int ms) {
  StartTimer();  // as WaitOneSecond: the cycle timer restarts with the wait
  if (timer.SkipWaits) return true;
  return TeachingWait(ms, true);
}

bool StillnessCheck() {
  const double rate = std::max(1, learn.GRATE);
  const TimeStamp began = NowStamp();
  bool waiting = false;  // a frame with motion came: the STOP banner is out
  double lastLine = -1.0;  // seconds (since the start) of the last progress line
  const bool terminal = ConsoleIsTerminal();
  control.TeachStep = kTeachStandStill;
  control.TeachStillPixels = 0;
  for (int round = 0; round < kStillRounds; ++round) {
    for (int k = 0; k < kStillFramesPerRound; ++k) {
      StartTimer();
      recog.GrayFrameIndex = 1 - (recog.GrayFrameIndex & 1);
      ZAV_Capture();
      FeedFrame(LatestGrayFrame());
      ComputeMotionMaps();
      const bool moving = recog.DiffPixelCount > 0;
      control.TeachStillPixels = moving ? static_cast<int>(recog.DiffPixelCount) : 0;
      if (!moving) KeepStillValue();
      if (moving) {
        if (!waiting) StopBanner();
        waiting = true;
        // One progress line: overwritten on a terminal, one a second in a log.
        const double t = SecondsSince(began);
        if (terminal || lastLine < 0.0 || t - lastLine >= 1.0) {
          std::printf("%s STOP YOUR BODY MOTION, NOW! [ DThreshold=%d,   rv=%f ]%s", terminal ? "\r" : "",
                      learn.DThreshold, recog.DiffPixelCount, terminal ? "" : "\n");
          std::fflush(stdout);
          lastLine = t;
        }
      }
      // A frame takes at least one frame time of the learning rate.
      while (StopTimer() > rate) {
      }
      // The performer's window keeps answering: a key poll and the view, once a frame.
      PollKey(1);
      ShowOperatorView();
      if (control.CancelAsked) {
        if (waiting && terminal) std::printf("\n");
        return false;
      }
      if (!moving) break;
    }
  }
  if (waiting && terminal) std::printf("\n");
  if (waiting && recog.DiffPixelCount > 0) {
    StopBanner();
    std::printf(" The performer did not stand still in %d frames; the motion is taught from here.\n",
                kStillRounds * kStillFramesPerRound);
  }
  control.TeachStillPixels = 0;
  return true;
}

// --- the learning entries and the save ---

bool StandardMotionEntry(int g, bool interactive) {
  if (g < 0 || g >= kGestures) return false;
  TakeSnapshot(g);
  control.TeachPassesTotal = 0;
  PrepareViews();
  learn.pos_num = g;
  PrepareLearning();
  control.StillCount = 0;  // the calibration's values start with this motion's stillness check
  control.MovingCount = 0;
  if (!CountIn("STANDARD", g, interactive)) return false;
  PrintGoBanner(GoBanner::Standard);
  control.DifferenceSum2 = 0;
  control.DifferenceCnt = 0;
  control.LearnGesture = g;
  player.PlayerMode = 0;  // the engine must run to learn
  control.TeachStep = kTeachGo;
  std::fflush(stdout);
  return true;
}

bool SimilarMotionEntry(int g, int passes, bool interactive) {
  if (g < 0 || g >= kGestures) return false;
  TakeSnapshot(g);  // before pos_num changes: a cancel gives back the gesture chosen before
  learn.pos_num = g;
  PrepareViews();
  ResetRecognition();
  learn.LearningPasses = std::max(1, passes);
  control.TeachPassesTotal = learn.LearningPasses;
  if (!CountIn("SIMILAR", g, interactive)) return false;
  PrintGoBanner(GoBanner::Passes);
  player.PlayerMode = 0;
  control.TeachStep = kTeachPass;
  std::fflush(stdout);
  return true;
}

bool SaveKnowledgeBase() {
  if (LearningPending()) {
    std::printf("NOT SAVED: learning is still running (passes left: %d, review: %s, standard motion: %s).\n",
                std::max(0, learn.LearningPasses), engine.REVIEW_MODE ? "running" : "no",
                control.LearnGesture >= 0 ? "not ended" : "no");
    Refuse("learning is still running; save when it has ended");
    return false;
  }
  if (!AnythingTaught()) {
    std::printf("NOT SAVED: no gesture has been taught; the knowledge-base files are left as they are.\n");
    Refuse("no gesture has been taught; nothing to save");
    return false;
  }
  if (!WriteKB(player.ContentNumber)) {
    Refuse("the knowledge base could not be written (see the error above)");
    return false;
  }
  long records = 0;
  for (const auto& byGesture : PatternPresent)
    for (const auto& bySample : byGesture)
      for (int present : bySample) records += present != 0;
  std::printf("SAVED: %s, %s, %s, %s (%ld pattern records).\n", KBFileName(player.ContentNumber, 1).c_str(), KBFileName(player.ContentNumber, 2).c_str(),
              KBFileName(player.ContentNumber, 3).c_str(), KBFileName(player.ContentNumber, 4).c_str(), records);
  std::fflush(stdout);
  control.TeachStep = kTeachSaved;
  return true;
}

// --- the teaching state in words, the end of a cycle ---

std::string TeachingStateText() {
  const int g = control.TeachGestureShown >= 0 ? control.TeachGestureShown : learn.pos_num;
  const std::string a = "[" + GestureName(g) + "]";
  const int total = std::max(control.TeachPassesTotal, learn.LearningPasses);
  const int pass = total - learn.LearningPasses + 1;  // the pass now awaited, 1..total
  char text[200];
  if (control.TeachEntry != 0) {
    if (control.TeachStep == kTeachStandStill) {
      std::snprintf(text, sizeof text, "STAND STILL — %d pixels still change", control.TeachStillPixels);
      return text;
    }
    if (learning.TeachCountdown <= 0) return learn.LearningPasses >= 1 ? "GO — perform " + a + " again" : "GO — perform " + a;
    if (learn.LearningPasses >= 1)
      std::snprintf(text, sizeof text, "get ready — %s pass %d of %d in %d", a.c_str(), pass, total,
                    learning.TeachCountdown);
    else
      std::snprintf(text, sizeof text, "get ready — teaching %s in %d", a.c_str(), learning.TeachCountdown);
    return text;
  }
  if (control.LearnGesture >= 0) return "GO — perform [" + GestureName(control.LearnGesture) + "]";
  if (engine.REVIEW_MODE != 0) return "review — perform " + a + " once more";
  if (learn.LearningPasses >= 1) {
    if (learning.TeachCountdown > 0)
      std::snprintf(text, sizeof text, "pass %d of %d — perform %s again in %d", pass, total, a.c_str(),
                    learning.TeachCountdown);
    else
      std::snprintf(text, sizeof text, "pass %d of %d — perform %s again", pass, total, a.c_str());
    return text;
  }
  if (control.FollowWarning >= 0 && control.FollowWarning < kGestures) {
    std::snprintf(text, sizeof text, "[%s] cannot be followed (%d of 100): teach a turning motion, see README",
                  GestureName(control.FollowWarning).c_str(), learning.Followability[static_cast<size_t>(control.FollowWarning)]);
    return text;
  }
  const int follow = g >= 0 && g < kGestures ? learning.Followability[static_cast<size_t>(g)] : -1;
  char verdict[48] = "";
  if (follow >= kFollowableLevel) std::snprintf(verdict, sizeof verdict, ", can be followed (%d of 100)", follow);
  switch (control.TeachStep) {
    case kTeachLearned:
      std::snprintf(text, sizeof text, "learned %s: %d frames%s", a.c_str(), control.TeachLearnedFrames, verdict);
      return text;
    case kTeachLimitsSet:
      return "limits of " + a + " set" + verdict;
    case kTeachSaved:
      std::snprintf(text, sizeof text, "saved HOLVA_data-%d-1..4.dat", player.ContentNumber + 1);
      return text;
    case kTeachCancelled:
      return "cancelled";
    case kTeachRefused:
      return std::string("refused: ") + control.TeachRefusal;
    default:
      return "";
  }
}

void TeachingAfterStep() {
  const int g = control.SeenLearnGesture;
  const std::string a = GestureName(control.TeachGestureShown >= 0 ? control.TeachGestureShown : learn.pos_num);
  if (g >= 0 && control.LearnGesture < 0) {
    control.TeachLearnedFrames = learn.GestureInfo[static_cast<size_t>(g)].length;
    control.TeachStep = kTeachLearned;
    std::printf("LEARNED: the standard motion of gesture %d [ %s ]: %d frames.\n", g, GestureName(g).c_str(),
                control.TeachLearnedFrames);
    NoteFollowability(g);
  }
  if (learn.LearningPasses < control.SeenPasses) {
    const int total = std::max(control.TeachPassesTotal, control.SeenPasses);
    std::printf("PASS %d of %d of [ %s ] ended.\n", total - control.SeenPasses + 1, total, a.c_str());
    control.TeachStep = engine.REVIEW_MODE != 0 ? kTeachReview : kTeachPass;
  }
  if (control.SeenReview != 0 && engine.REVIEW_MODE == 0) {
    const int p = std::clamp(learn.pos_num, 0, kGestures - 1);
    std::printf("REVIEW of [ %s ] ended; its new limits: RateLimit=[ %g ] OK_VAR=[ %g ] MatchLimit=[ %g ].\n",
                a.c_str(), learn.RateLimit[static_cast<size_t>(p)], learn.OK_VAR[static_cast<size_t>(p)],
                learn.MatchLimit[static_cast<size_t>(p)]);
    control.TeachStep = kTeachLimitsSet;
    control.TeachPassesTotal = 0;
    NoteFollowability(p);
  }
  if (recog.JudgedGesture >= 0 && recog.JudgedGesture < kGestures && recog.PHASE > 0) {
    control.ViewJudged = recog.JudgedGesture;
    control.ViewPhase = recog.PHASE;
    control.ViewLength = recog.JudgedLength;
  }
  control.SeenLearnGesture = control.LearnGesture;
  control.SeenPasses = learn.LearningPasses;
  control.SeenReview = engine.REVIEW_MODE;
  std::fflush(stdout);

  if (TeachingActive()) {
    control.LastTeaching = NowStamp();
    return;
  }
  DropSnapshot();  // the teaching has ended: what it did stays
  if (player.OperatorView == 2 && control.FollowWarning < 0 && SecondsSince(control.LastTeaching) > kViewAutoOffSeconds) {
    player.OperatorView = 0;
    player.RedrawMark = -1.0;  // the plain frame again
  }
}

}  // namespace orv
