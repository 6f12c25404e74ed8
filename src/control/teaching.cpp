// Teaching gestures from the player window: the learning entries (standard and similar
// motion), the stillness check before a motion is taught, saving what was learned, the
// automatic-learning sequence with its calibration, and the keys that reach them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "common/app_state.h"
#include "common/control_state.h"
#include "common/display.h"
#include "common/learning_state.h"
#include "common/limits.h"
#include "common/platform.h"
#include "common/player_state.h"
#include "common/recognition_state.h"
#include "learning/learning.h"
#include "player/motion.h"
#include "player/player.h"
#include "recognition/recognition.h"
#include "common/timer.h"
#include "control/control.h"
#include "control/teaching.h"
#include "kb/kb.h"

namespace orv {

namespace {

constexpr int kCountdownSteps = 5;
constexpr int kCountdownStepMs = 120;  // CountdownUnit counts in these
constexpr int kStillRounds = 30;       // stillness check: rounds ...
constexpr int kStillFramesPerRound = 10;  // ... of at most this many captured frames

void Lines(std::initializer_list<const char*> lines) {
  for (const char* l : lines) std::fputs(l, stdout);
}

void GoBanner() {
  Lines({"\n OOO            O \n", "O               O \n", "O       OOOO    O \n", "O OOOO O    O   O \n",
         "O   O  O    O   O \n", "O   O  O    O     \n", " OOO    OOOO    O \n\n"});
}

void GoGoBanner() {
  Lines({"\n OOO            O  O \n", "O               O  O \n", "O       OOOO    O  O \n",
         "O OOOO O    O   O  O \n", "O   O  O    O   O  O \n", "O   O  O    O        \n",
         " OOO    OOOO    O  O \n\n"});
}

void StopBanner() {
  Lines({"\n OOOO  OOOOO   OOO   OOOO  \n", "O        O    O   O  O   O \n", "O        O    O   O  O   O \n",
         " OOO     O    O   O  OOOO  \n", "    O    O    O   O  O     \n", "    O    O    O   O  O     \n",
         "OOOO     O     OOO   O     \n"});
}

void FinishedBanner() {
  Lines({"\nOOOOO  O  O   O  O   OOOO O   O OOOOO OOO    O \n",
         "O      O  OO  O  O  O     O   O O     O  O   O \n",
         "O      O  OO  O  O  O     O   O O     O   O  O \n",
         "OOOO   O  O O O  O   OOO  OOOOO OOOO  O   O  O \n",
         "O      O  O  OO  O      O O   O O     O   O  O \n",
         "O      O  O   O  O      O O   O O     O  O     \n",
         "O      O  O   O  O  OOOO  O   O OOOOO OOO    O \n\n"});
}

void Bell() {
  if (control.CamBeep) std::printf("\a\n");
}

// Name of gesture g as texts show it (a stored name may lack its terminator).
std::string GestureName(int g) {
  if (g < 0 || g >= kGestures) return "?";
  const GestureEntry& e = learn.GestureInfo[static_cast<size_t>(g)];
  return std::string(e.name, strnlen(e.name, sizeof e.name));
}

bool HasStandardMotion(int g) {
  for (int v = 0; v < kViews; ++v)
    if (PatternPresent[static_cast<size_t>(v)][static_cast<size_t>(g)][0]) return true;
  return false;
}

bool AnythingTaught() {
  for (int g = 0; g < kGestures; ++g)
    if (HasStandardMotion(g)) return true;
  return false;
}

bool LearningPending() { return app.LearnGesture >= 0 || learn.LearningPasses >= 1 || learn.REVIEW_MODE != 0; }

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
// stand still, so that the taught motion starts from rest.
void CountIn(const char* kind, int g, bool interactive) {
  const std::string name = GestureName(g);
  char text[160];
  Bell();
  if (interactive) {
    for (int n = kCountdownSteps; n >= 1; --n) {
      std::snprintf(text, sizeof text, "---> START THE LEARNING OF %s BODY MOTION for [ %s ]. GET READY! (%d)",
                    kind, name.c_str(), n);
      ShowLearningText(text);
      DisplayWaitKey(std::max(1, learn.CountdownUnit * kCountdownStepMs));
    }
  }
  std::snprintf(text, sizeof text, "*** LEARNING %s BODY MOTION for [ %s ] ***", kind, name.c_str());
  ShowLearningText(text);
  if (interactive) {
    if (learn.REVIEW_MODE == 0) StillnessCheck();
    DisplayWaitKey(1);
  }
}

void KeyLine(const char* text) {
  if (control.MonitorMode != 0) std::fputs(text, stdout);
}

// Learning needs a camera and no other learning run; says why not otherwise.
bool ReadyToLearn() {
  if (LearningPending()) {
    std::printf("LEARNING: a learning run is still going on; wait until it has ended.\n");
    return false;
  }
  if (player.CameraOn == 0) {
    std::printf("LEARNING: switch the camera on first (q): a motion is taught in front of the camera.\n");
    return false;
  }
  return true;
}

// VR_step and VR_threshold from what automatic learning saw: one learned length of gesture 0
// spans the replay period, and the threshold goes between the room standing still (the
// frames the stillness checks judged still) and the learned motion (its judged frames), by
// the rule orvante-tune applies to a rehearsal. The mean of the learned motion alone, the
// older rule, puts about half of the moving frames below the threshold by construction.
void Calibrate() {
  const int length = learn.GestureInfo[0].length;
  const int start = app.StartFrameNum, end = app.EndFrameNum;
  if (length > 3 && start < end && (start > 0 || end > 0)) {
    player.VR_step = (static_cast<double>(end) - start) / length;
    std::printf("\n--> Updated [ VR_step ]\n");
  }
  std::printf("*** VR_step=[ %6.3f ],   G[ 0 ].frame_num=[ %d ],   StartFrameNum=[ %d ],   EndFrameNum=[ %d ]\n",
              player.VR_step, length, start, end);
  const auto still = app.StillValues.begin(), moving = app.MovingValues.begin();
  const MotionLevels m = LevelsOf(std::vector<int>(still, still + std::clamp(app.StillCount, 0, kCalibrationValues)),
                                  std::vector<int>(moving, moving + std::clamp(app.MovingCount, 0, kCalibrationValues)),
                                  SamplePoints());
  if (m.separated) {
    control.VR_threshold = m.threshold;
    // The command step reloads VR_threshold from the threshold file every cycle; without the
    // file the calibrated value would be gone at the next cycle.
    WriteThreshold(control.VR_threshold);
    std::printf("\n--> Updated [ VR_threshold ]: between the still level %d and the motion level %d (margin %.2f)\n",
                m.still, m.motion, m.margin);
  } else {
    std::printf("\nVR_threshold is kept: %s.\n", m.why.c_str());
  }
  std::printf("*** VR_threshold=[ %d ],   DifferenceSum2=[ %d ],   DifferenceCnt=[ %d ]\n\n", control.VR_threshold,
              app.DifferenceSum2, app.DifferenceCnt);
  app.DifferenceSum2 = 0;
  app.DifferenceCnt = 0;
  app.StillCount = 0;
  app.MovingCount = 0;
  WaitOneSecond();
}

// A frame the stillness check judged still: its grey difference to the frame before is what
// the camera makes of the room at rest.
void KeepStillValue() {
  if (player.CameraOn == 0 || app.StillCount < 0 || app.StillCount >= kCalibrationValues) return;
  app.StillValues[static_cast<size_t>(app.StillCount++)] = GreyDifferenceSum();
}

}  // namespace

std::string TeachingStateText() {
  if (app.LearnGesture >= 0) return "GO - perform [" + GestureName(app.LearnGesture) + "]";
  if (learn.REVIEW_MODE != 0) return "review - perform [" + GestureName(learn.pos_num) + "] once more";
  if (learn.LearningPasses >= 1) return "pass - perform [" + GestureName(learn.pos_num) + "] again";
  return "";
}

void ShowLearningText(const char* text) {
  std::printf("%s\n", text);
  std::fflush(stdout);

  cv::Mat canvas;
  const int f = CurrentFrame();
  if (f >= 0 && FrameData[static_cast<size_t>(f)].loaded == 1 && !FrameImages[static_cast<size_t>(f)].empty()) {
    const cv::Mat& img = FrameImages[static_cast<size_t>(f)];
    if (img.channels() == 3)
      canvas = img.clone();
    else
      cv::cvtColor(img, canvas, cv::COLOR_GRAY2BGR);
    if (app.flip_mode == 1) cv::flip(canvas, canvas, 1);
  } else {
    canvas = cv::Mat(240, 320, CV_8UC3, cv::Scalar(0, 0, 0));
  }

  // Long texts go on two lines, broken after their first sentence.
  std::string first = text, second;
  if (const size_t cut = first.find(". "); cut != std::string::npos) {
    second = first.substr(cut + 2);
    first = first.substr(0, cut + 1);
  }
  const int font = cv::FONT_HERSHEY_SIMPLEX;
  int base = 0;
  const int widest = std::max(cv::getTextSize(first, font, 1.0, 2, &base).width,
                              cv::getTextSize(second, font, 1.0, 2, &base).width);
  const double scale = std::clamp((canvas.cols - 16.0) / std::max(1, widest), 0.3, 1.0);
  const int lineH = static_cast<int>(36 * scale) + 4;
  const int lines = second.empty() ? 1 : 2;
  const int top = std::max(0, canvas.rows - lines * lineH - 8);
  cv::Mat band = canvas.rowRange(top, canvas.rows);
  band *= 0.35;  // darkened so the text reads over any picture
  for (int i = 0; i < lines; ++i) {
    const cv::Point at(8, top + (i + 1) * lineH);
    cv::putText(canvas, i == 0 ? first : second, at, font, scale, cv::Scalar(60, 230, 255),
                std::max(1, static_cast<int>(2 * scale)), cv::LINE_AA);
  }
  DisplayShow(kPlayerWindow, canvas);
  app.RedrawMark = -1.0;  // the next display step puts the plain frame back
}

void StillnessCheck() {
  const double rate = std::max(1, learn.GRATE);
  for (int round = 0; round < kStillRounds; ++round) {
    for (int k = 0; k < kStillFramesPerRound; ++k) {
      StartTimer();
      recog.GrayFrameIndex = 1 - (recog.GrayFrameIndex & 1);
      ZAV_Capture();
      FeedFrame();
      ComputeMotionMaps();
      const bool moving = recog.DiffPixelCount > 0;
      if (!moving) KeepStillValue();
      if (moving) {
        StopBanner();
        std::printf(" STOP YOUR BODY MOTION, NOW! [ DThreshold=%d,   rv=%f ]\n", learn.DThreshold,
                    recog.DiffPixelCount);
      }
      // A frame takes at least one frame time of the learning rate.
      while (StopTimer() > rate) {
      }
      if (!moving) break;
    }
  }
}

void StandardMotionEntry(int g, bool interactive) {
  if (g < 0 || g >= kGestures) return;
  PrepareViews();
  learn.pos_num = g;
  PrepareLearning();
  app.StillCount = 0;  // the calibration's values start with this motion's stillness check
  app.MovingCount = 0;
  CountIn("STANDARD", g, interactive);
  GoBanner();
  app.DifferenceSum2 = 0;
  app.DifferenceCnt = 0;
  app.LearnGesture = g;
  app.PlayerMode = 0;  // the engine must run to learn
  std::fflush(stdout);
}

void SimilarMotionEntry(int passes, bool interactive) {
  const int g = learn.pos_num;
  if (g < 0 || g >= kGestures) return;
  PrepareViews();
  ResetRecognition();
  learn.LearningPasses = std::max(1, passes);
  CountIn("SIMILAR", g, interactive);
  GoGoBanner();
  app.PlayerMode = 0;
  std::fflush(stdout);
}

bool SaveKnowledgeBase() {
  if (LearningPending()) {
    std::printf("NOT SAVED: learning is still running (passes left: %d, review: %s, standard motion: %s).\n",
                std::max(0, learn.LearningPasses), learn.REVIEW_MODE ? "running" : "no",
                app.LearnGesture >= 0 ? "not ended" : "no");
    return false;
  }
  if (!AnythingTaught()) {
    std::printf("NOT SAVED: no gesture has been taught; the knowledge-base files are left as they are.\n");
    return false;
  }
  WriteKB();
  return true;
}

void AutoLearningStep() {
  if (app.AutoLearnMode <= 0 || LearningPending()) return;
  const int last = std::clamp(app.AutoLearnLast, 0, kGestures - 1);
  const int first = app.AutoLearnMode == 1 ? 0 : last;
  for (int g = first; g <= last; ++g) {
    if (!HasStandardMotion(g)) {
      StandardMotionEntry(g, true);
      return;
    }
  }
  for (int g = first; g <= last; ++g) {
    if (learn.SampleCount[static_cast<size_t>(g)] == 0) {
      learn.pos_num = g;
      SimilarMotionEntry(1, true);
      return;
    }
  }
  ShowLearningText("Automatic learning has been finished.");
  app.AutoLearnMode = 0;
  FinishedBanner();
  Calibrate();
}

bool LearningKey(int key) {
  if (key >= '0' && key <= '7') {
    app.TeachGesture = key - '0';
    std::printf("SET: Gesture to teach = [ %d ] [ %s ]\n", app.TeachGesture, GestureName(app.TeachGesture).c_str());
    return true;
  }
  const int g = std::clamp(app.TeachGesture, 0, kGestures - 1);
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
        return true;
      }
      learn.pos_num = g;
      SimilarMotionEntry(1, true);
      return true;
    case 'a':
      KeyLine("KEY FUNCTION : [a][ Automatic Learning of the Chosen Gesture ]\n");
      if (!ReadyToLearn()) return true;
      app.AutoLearnLast = g;
      app.AutoLearnMode = 2;
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
  const int g = std::clamp(app.TeachGesture, 0, kGestures - 1);
  std::printf("                       [ Gesture learning keys ]\n\n");
  std::printf("     [ 0 .. 7 ]  choose the gesture to teach (now %d [ %s ])\n", g, GestureName(g).c_str());
  std::printf("     [ g ]       teach its standard motion: countdown, stand still, perform it once\n");
  std::printf("     [ s ]       one learning pass: perform a similar motion once; the review follows\n");
  std::printf("     [ a ]       automatic learning of the chosen gesture (g, then s), then VR_step and\n");
  std::printf("                 VR_threshold are calibrated from it\n");
  std::printf("     [ w ]       save the knowledge base (HOLVA_data-%d-1..4.dat)\n", player.ContentNumber + 1);
  std::printf("%s\n\n", rule.c_str());
}

}  // namespace orv
