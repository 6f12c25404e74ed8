// Knowledge bases with values out of range: each is loaded, bounded with a message, and
// frames then run through the engine in recognition and in learning without harm.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "kb/kb_fixture.h"
#include "kb/learning_state.h"
#include "learning/learning.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition.h"
#include "kb/kb.h"

using namespace orv;
using namespace orvtest;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct BadCase {
  const char* name;
  std::function<void()> spoil;  // applied to the in-memory knowledge base before it is saved
  std::function<void()> check;  // what the load must have made of it
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

void RunFrames(int learnGesture, int motion) {
  static int n = 0;
  for (int i = 0; i < motion; ++i) {
    MotionFrame(++n);
    RunEngineFrame(learnGesture, LatestGrayFrame());
  }
  RunEngineFrame(learnGesture, LatestGrayFrame());  // the same picture again: the sequence ends
}

class BadKnowledgeBase : public testing::TestWithParam<BadCase> {};

TEST_P(BadKnowledgeBase, IsBoundedAndTheEngineRunsOnIt) {
  InTempDir cwd;
  ResetRecognition();
  ResetGestureTables();
  BuildKernelTables();
  FillDirectionTables();
  ResetEngineCaches();
  testing::internal::CaptureStdout();
  RunFrames(0, 12);  // learn gesture 0 from a real motion
  ASSERT_GT(PresentCount(), 0);
  GetParam().spoil();
  WriteKB(player.ContentNumber);

  learn = LearningState{};
  engine = EngineSetup{};
  learning = LearningWork{};
  ReleaseKnowledgeBase();
  testing::internal::CaptureStderr();
  ASSERT_EQ(ReadKB(player.ContentNumber), 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("ReadKB(): "), std::string::npos) << "no message for " << GetParam().name;
  GetParam().check();

  if (PrepareEngine(player.ContentNumber)) player.PlayerMode = 0;
  RunFrames(-1, 30);
  learn.LearningPasses = 2;
  RunFrames(learn.pos_num, 30);
  RunFrames(-1, 5);
  testing::internal::GetCapturedStdout();
  EXPECT_GE(recog.mflg, 0);
  EXPECT_LE(recog.mflg, kSeqFrames);
  for (int g = 0; g < kGestures; ++g) {
    EXPECT_GE(learn.SampleCount[g], 0);
    EXPECT_LE(learn.SampleCount[g], kSeqFrames);
  }
}

const BadCase kCases[] = {
    {"pos_num_high", [] { learn.pos_num = 9; }, [] { EXPECT_EQ(learn.pos_num, 0); }},
    {"pos_num_negative", [] { learn.pos_num = -1; }, [] { EXPECT_EQ(learn.pos_num, 0); }},
    {"sample_high",
     [] { learn.SampleHigh[0][0] = 500, learn.SampleHigh[1][0] = -7; },
     [] {
       EXPECT_EQ(learn.SampleHigh[0][0], 200);
       EXPECT_EQ(learn.SampleHigh[1][0], -1);
     }},
    {"sample_count",
     [] { learn.SampleCount[0] = 999, learn.SampleCount[1] = -5; },
     [] {
       EXPECT_EQ(learn.SampleCount[0], 200);
       EXPECT_EQ(learn.SampleCount[1], 0);
     }},
    {"neroi", [] { learn.NEROI = 99; }, [] { EXPECT_EQ(learn.NEROI, 32); }},
    {"skip_low", [] { learn.SKIP = 0.5; }, [] { EXPECT_EQ(learn.SKIP, 1.0); }},
    {"skip_nan", [] { learn.SKIP = kNaN; }, [] { EXPECT_EQ(learn.SKIP, 1.0); }},
    {"skip_huge", [] { learn.SKIP = 1e300; }, [] { EXPECT_EQ(learn.SKIP, 100.0); }},
    {"rskip_zero", [] { learn.RSKIP = 0.0; }, [] { EXPECT_EQ(learn.RSKIP, 1.0); }},
    {"rskip_negative", [] { learn.RSKIP = -3.0; }, [] { EXPECT_EQ(learn.RSKIP, 1.0); }},
    {"lengths",
     [] { learn.GestureInfo[0].length = 1000, learn.GestureInfo[1].length = -3; },
     [] {
       EXPECT_EQ(learn.GestureInfo[0].length, 200);
       EXPECT_EQ(learn.GestureInfo[1].length, 0);
     }},
    {"similarity_not_finite",
     [] {
       SampleTable[0][0][4][2] = SampleRecord{1, 0, kNaN, 3.0};
       SampleTable[0][0][5][2] = SampleRecord{1, 0, 0.5, -std::numeric_limits<double>::infinity()};
     },
     [] {
       EXPECT_EQ(SampleTable[0][0][4][2].valid, 0);
       EXPECT_EQ(SampleTable[0][0][5][2].valid, 0);
     }},
    {"grate_zero", [] { learn.GRATE = 0; }, [] { EXPECT_EQ(learn.GRATE, 60); }},
    {"roi_mask_not_a_flag", [] { learn.RoiMask[3] = 7; }, [] { EXPECT_EQ(learn.RoiMask[3], 1); }},
    {"countdown_unit_huge", [] { learn.CountdownUnit = 2000000000; }, [] { EXPECT_EQ(learn.CountdownUnit, 100); }},
};

INSTANTIATE_TEST_SUITE_P(Cases, BadKnowledgeBase, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<BadCase>& i) { return std::string(i.param.name); });

}  // namespace
