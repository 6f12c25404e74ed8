// The verdict on a taught motion is a side computation: it measures, and nothing the engine
// uses changes, not even a step limit the phase estimate tightens on its way.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "kb/learning_state.h"
#include "common/tables.h"
#include "learning/learning_work.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "kb/kb.h"
#include "learning/learning.h"

using namespace orv;

TEST(Followability, MeasuresAFullKnowledgeBaseWithoutChangingTheEngine) {
  ResetGestureTables();
  FillFullKnowledgeBase(3);
  learn.GestureInfo[2].length = kSeqFrames;
  engine.PhaseStepLimit[2] = 1.5;
  recog.PhaseRing5 = {3, 4, 5, 6, 7};
  recog.PreviousCandidate = recog.CandidateGesture = 4;
  const auto learnBefore = std::make_unique<LearningState>(learn);
  const auto engineBefore = std::make_unique<EngineSetup>(engine);
  const auto workBefore = std::make_unique<LearningWork>(learning);
  const auto recogBefore = std::make_unique<RecognitionState>(recog);
  const auto mapBefore = std::make_unique<ProtocolMapT>(ProtocolMap);
  const auto patternsBefore = std::make_unique<PatternStore>(*Patterns);

  testing::internal::CaptureStdout();
  JudgeFollowability(2);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_GE(learning.Followability[2], 0);
  EXPECT_LE(learning.Followability[2], 100);
  EXPECT_GE(learning.FollowedLow[2], 1);
  EXPECT_LE(learning.FollowedHigh[2], kSeqFrames);
  EXPECT_GE(learning.NearestGesture[2], 0);
  EXPECT_NE(learning.NearestGesture[2], 2);
  EXPECT_NE(out.find("VERDICT [ C ]: followability "), std::string::npos) << out;
  EXPECT_NE(out.find("VERDICT [ C ]: nearest other gesture [ "), std::string::npos) << out;

  workBefore->Followability = learning.Followability;
  workBefore->FollowedLow = learning.FollowedLow;
  workBefore->FollowedHigh = learning.FollowedHigh;
  workBefore->NearestGesture = learning.NearestGesture;
  workBefore->NearestRatio = learning.NearestRatio;
  EXPECT_EQ(std::memcmp(learnBefore.get(), &learn, sizeof learn), 0);
  EXPECT_TRUE(*engineBefore == engine);
  EXPECT_TRUE(*workBefore == learning);
  EXPECT_EQ(std::memcmp(recogBefore.get(), &recog, sizeof recog), 0);
  EXPECT_EQ(std::memcmp(mapBefore.get(), &ProtocolMap, sizeof ProtocolMap), 0);
  EXPECT_EQ(std::memcmp(patternsBefore.get(), Patterns.get(), sizeof(PatternStore)), 0);
  ReleaseAllPatterns();
}

// Gesture 0 taught as 40 frames seen by view 0 alone, frame i's signature given by shape(i):
// left out in turn, a frame finds its nearest neighbours, so the phase is exactly as
// followable as the shape says.
namespace {

// With `twin`, gesture 1 ("B") is taught with the very same frames, and both have protocol
// maps that give evidence only at full similarity: every frame of A finds its exact copy in B.
int FollowabilityOf(int (*shape)(int), std::string* out = nullptr, bool twin = false) {
  ResetGestureTables();
  ReleaseAllPatterns();
  ClearTable(ProtocolMap);
  EXPECT_TRUE(EnsurePatternStore());
  constexpr int kLength = 40;
  for (int g = 0; g <= (twin ? 1 : 0); ++g) {
    for (int i = 0; i < kLength; ++i) {
      Patterns->Re[0][g][i].fill(static_cast<double>(shape(i)));
      PatternPresent[0][g][i] = 1;
    }
    learn.SampleHigh[0][g] = kLength;
    learn.GestureInfo[g].length = kLength;
    std::snprintf(learn.GestureInfo[g].name, sizeof learn.GestureInfo[g].name, "%c", 'A' + g);
    if (twin) ProtocolMap[g][g][0][kLevels - 1] = 1.0, learn.GestureWeight[g] = 1.0;
  }
  learning.NearestGesture[0] = 5, learning.NearestRatio[0] = 3.0;  // from an earlier verdict
  testing::internal::CaptureStdout();
  JudgeFollowability(0);
  const std::string said = testing::internal::GetCapturedStdout();
  if (out) *out = said;
  return learning.Followability[0];
}

}  // namespace

TEST(Followability, ExactOnMotionsWhosePhaseIsKnown) {
  // Every frame a step further: the phase rises from 1 to the end without ever falling back.
  std::string out;
  EXPECT_EQ(FollowabilityOf([](int i) { return i; }, &out), 100);
  EXPECT_EQ(learning.FollowedLow[0], 1);
  EXPECT_EQ(learning.FollowedHigh[0], 40);
  EXPECT_EQ(learning.NearestGesture[0], -1);
  EXPECT_EQ(learning.NearestRatio[0], 0.0);
  EXPECT_EQ(out,
            "VERDICT [ A ]: followability 100 of 100 (the engine follows from 50) - its phase went from 1 to 40 of 40 "
            "frames.\nVERDICT [ A ]: the nearest other gesture is known after the first pass (s).\n");

  // The same motion taught twice: B gathers exactly the evidence A does.
  EXPECT_EQ(FollowabilityOf([](int i) { return i; }, &out, true), 100);
  EXPECT_EQ(learning.NearestGesture[0], 1);
  EXPECT_EQ(learning.NearestRatio[0], 1.0);
  EXPECT_NE(out.find("VERDICT [ A ]: nearest other gesture [ B ], evidence ratio 1.000 against the limit 1.00 - too "
                     "close: the judgement cannot tell them apart.\n"),
            std::string::npos)
      << out;

  // Every frame alike: no frame tells where it is, no phase at all.
  EXPECT_EQ(FollowabilityOf([](int) { return 7; }, &out), 0);
  EXPECT_EQ(learning.FollowedHigh[0], 0);
  EXPECT_NE(out.find("- no phase could be estimated.\nVERDICT"), std::string::npos) << out;
  EXPECT_NE(out.find("WARNING: the engine could not follow the progress of [ A ]"), std::string::npos) << out;

  // Half the way and then standing: the raw phase stops at 20, which the judgement's stretch
  // (30..70 % of the length over the whole) maps to (20 - 12) / 0.4 = 20: 19 of 39 frames.
  EXPECT_EQ(FollowabilityOf([](int i) { return i < 20 ? i : 20; }), 49);
  EXPECT_EQ(learning.FollowedHigh[0], 20);
}
