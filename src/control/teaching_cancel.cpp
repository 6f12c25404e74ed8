// The cancel of a teaching: the snapshot of what a teaching may change, taken when it starts,
// and the cancel that puts it back.
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "kb/learning_state.h"
#include "common/limits.h"
#include "control/control_state.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "control/control.h"
#include "control/operator_view.h"
#include "control/teaching.h"
#include "kb/kb.h"
#include "learning/learning.h"
#include "recognition/recognition.h"

namespace orv {

namespace {

// --- the snapshot ---

// What a teaching may change, taken when it starts, so that a cancel can put it back: the
// whole knowledge-base, engine set-up and learning states (the view-point selection rewrites
// limits and flags of every gesture) and the taught gesture's tables, pattern records and
// recorded pass frames.
template <typename T>
using ByViewSample = std::array<std::array<T, kSeqFrames>, kViews>;
struct TeachingSnapshot {
  LearningState learn;
  EngineSetup engine;
  LearningWork learning;
  int gesture = 0;  // the taught gesture, 0..7
  SampleTableT::value_type samples;
  ProtocolMapT::value_type protocol;
  ByViewSample<std::array<double, kSigLen>> re, ps;  // the gesture's pattern records
  ByViewSample<std::array<int32_t, 4>> header;
  ByViewSample<int> present;
  std::array<std::array<uint8_t, kGriPixels>, kSeqFrames> passFrames;
  int playerMode = 1, learnGesture = -1, autoLearnMode = 0, differenceSum2 = 0, differenceCnt = 0;
};
std::unique_ptr<TeachingSnapshot> snapshot;  // held from the start of a teaching to its end

void RestoreSnapshot() {
  if (!snapshot) return;
  const TeachingSnapshot& s = *snapshot;
  const size_t gi = static_cast<size_t>(s.gesture);
  learn = s.learn;
  engine = s.engine;
  learning = s.learning;
  SampleTable[gi] = s.samples;
  ProtocolMap[gi] = s.protocol;
  for (int v = 0; v < kViews; ++v) {
    const size_t m = static_cast<size_t>(v);
    for (int k = 0; k < kSeqFrames; ++k) {
      const size_t ki = static_cast<size_t>(k);
      if (!s.present[m][ki]) {
        ReleasePattern(v, s.gesture, k);
      } else if (EnsurePatternStore()) {
        Patterns->Re[m][gi][ki] = s.re[m][ki];
        Patterns->Ps[m][gi][ki] = s.ps[m][ki];
        Patterns->Header[m][gi][ki] = s.header[m][ki];
        PatternPresent[m][gi][ki] = 1;
      }
    }
  }
  PassFrames = s.passFrames;
  player.PlayerMode = s.playerMode;
  control.LearnGesture = s.learnGesture;
  control.AutoLearnMode = s.autoLearnMode;
  control.DifferenceSum2 = s.differenceSum2;
  control.DifferenceCnt = s.differenceCnt;
}

}  // namespace

// An entry takes a new snapshot, except in automatic learning, whose steps are one teaching.
void TakeSnapshot(int g) {
  if ((snapshot && control.AutoLearnMode > 0) || g < 0 || g >= kGestures) return;
  if (!snapshot) snapshot = std::make_unique<TeachingSnapshot>();
  TeachingSnapshot& s = *snapshot;
  s.learn = learn;
  s.engine = engine;
  s.learning = learning;
  s.gesture = g;
  s.samples = SampleTable[static_cast<size_t>(g)];
  s.protocol = ProtocolMap[static_cast<size_t>(g)];
  for (int v = 0; v < kViews; ++v) {
    const size_t m = static_cast<size_t>(v), gi = static_cast<size_t>(g);
    s.present[m] = PatternPresent[m][gi];
    if (!Patterns) continue;
    s.re[m] = Patterns->Re[m][gi];
    s.ps[m] = Patterns->Ps[m][gi];
    s.header[m] = Patterns->Header[m][gi];
  }
  s.passFrames = PassFrames;
  s.playerMode = player.PlayerMode;
  s.learnGesture = control.LearnGesture;
  s.autoLearnMode = control.AutoLearnMode;
  s.differenceSum2 = control.DifferenceSum2;
  s.differenceCnt = control.DifferenceCnt;
}

void DropSnapshot() { snapshot.reset(); }

void TeachingCycleStart() {
  // Passes a knowledge base asked for start without a key: their snapshot is the loaded state.
  if (!snapshot && LearningPending()) {
    TakeSnapshot(control.LearnGesture >= 0 ? control.LearnGesture : learn.pos_num);
    if (control.TeachPassesTotal < learn.LearningPasses) control.TeachPassesTotal = learn.LearningPasses;
    control.TeachGestureShown = learn.pos_num;
    control.SeenPasses = learn.LearningPasses;
    control.SeenReview = engine.REVIEW_MODE;
    OperatorViewForTeaching();
  }
}

// --- the cancel ---

void CancelTeaching() {
  control.CancelAsked = false;
  control.TeachEntry = 0;
  learning.TeachCountdown = 0;
  if (snapshot) {
    const int g = snapshot->gesture;
    RestoreSnapshot();
    snapshot.reset();
    control.TeachGestureShown = g;
  }
  // Passes a knowledge base asked for end too: cancelled is cancelled.
  learn.LearningPasses = 0;
  engine.REVIEW_MODE = 0;
  learn.ReviewFrame = 0;
  control.LearnGesture = -1;
  control.AutoLearnMode = 0;
  control.TeachPassesTotal = 0;
  control.SeenLearnGesture = -1, control.SeenPasses = 0, control.SeenReview = 0;
  // The direction tables follow SKIP, and the recognizer starts a fresh sequence.
  FillDirectionTables();
  ResetRecognition();
  recog.PHASE = -1;
  control.TeachStep = kTeachCancelled;
  player.RedrawMark = -1.0;
  std::printf("CANCELLED: the teaching of [ %s ] was cancelled; the knowledge base, the gesture and the engine "
              "settings are as before it started.\n",
              GestureName(control.TeachGestureShown).c_str());
  std::fflush(stdout);
}

bool CancelPoint() {
  if (!control.CancelAsked) return true;
  CancelTeaching();
  return PauseScreen();
}

}  // namespace orv
