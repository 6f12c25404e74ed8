// The verdict on a taught motion is a side computation: it measures, and nothing the engine
// uses changes, not even a step limit the phase estimate tightens on its way.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "common/learning_state.h"
#include "common/recognition_state.h"
#include "kb/kb.h"
#include "learning/learning.h"

using namespace orv;

TEST(Followability, MeasuresAFullKnowledgeBaseWithoutChangingTheEngine) {
  ResetGestureTables();
  FillFullKnowledgeBase(3);
  learn.GestureInfo[2].length = kSeqFrames;
  learn.PhaseStepLimit[2] = 1.5;
  recog.PhaseRing5 = {3, 4, 5, 6, 7};
  recog.PreviousCandidate = recog.CandidateGesture = 4;
  const auto learnBefore = std::make_unique<LearningState>(learn);
  const auto recogBefore = std::make_unique<RecognitionState>(recog);
  const auto mapBefore = std::make_unique<ProtocolMapT>(ProtocolMap);
  const auto patternsBefore = std::make_unique<PatternStore>(*Patterns);

  testing::internal::CaptureStdout();
  JudgeFollowability(2);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_GE(learn.Followability[2], 0);
  EXPECT_LE(learn.Followability[2], 100);
  EXPECT_GE(learn.FollowedLow[2], 1);
  EXPECT_LE(learn.FollowedHigh[2], kSeqFrames);
  EXPECT_GE(learn.NearestGesture[2], 0);
  EXPECT_NE(learn.NearestGesture[2], 2);
  EXPECT_NE(out.find("VERDICT [ C ]: followability "), std::string::npos) << out;
  EXPECT_NE(out.find("VERDICT [ C ]: nearest other gesture [ "), std::string::npos) << out;

  learnBefore->Followability = learn.Followability;
  learnBefore->FollowedLow = learn.FollowedLow;
  learnBefore->FollowedHigh = learn.FollowedHigh;
  learnBefore->NearestGesture = learn.NearestGesture;
  learnBefore->NearestRatio = learn.NearestRatio;
  EXPECT_EQ(std::memcmp(learnBefore.get(), &learn, sizeof learn), 0);
  EXPECT_EQ(std::memcmp(recogBefore.get(), &recog, sizeof recog), 0);
  EXPECT_EQ(std::memcmp(mapBefore.get(), &ProtocolMap, sizeof ProtocolMap), 0);
  EXPECT_EQ(std::memcmp(patternsBefore.get(), Patterns.get(), sizeof(PatternStore)), 0);
  ReleaseAllPatterns();
}
