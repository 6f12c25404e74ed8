// Teaching from the player window: keys, learning entries, saving, the cycle while a motion
// is taught, and the calibration at the end of automatic learning.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "../control/player_fixture.h"
#include "app/app_state.h"
#include "control/control_state.h"
#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "control/control.h"
#include "learning/learning.h"
#include "player/player.h"
#include "recognition/recognition.h"
#include "app/main_loop.h"
#include "control/teaching.h"

using namespace orv;
using namespace orvtest;

namespace {

struct LearningKeysTest : PlayerTest {
  void SetUp() override {
    PlayerTest::SetUp();
    recog = RecognitionState{};
    ResetGestureTables();
    ReleaseAllPatterns();
    UseContent(4);
  }
  std::string Key(int key) {
    testing::internal::CaptureStdout();
    DispatchKey(key);
    return testing::internal::GetCapturedStdout();
  }
  // A camera that shows the same grey picture for ever, already in both engine buffers.
  void StillCamera() {
    UseScriptedCamera({cv::Mat(kCamH, kCamW, CV_8UC1, cv::Scalar(90))}, true);
    testing::internal::CaptureStdout();
    TurnCameraOn();
    ZAV_Capture();
    FeedFrame(LatestGrayFrame());
    recog.GrayFrameIndex = 1 - recog.GrayFrameIndex;
    FeedFrame(LatestGrayFrame());
    testing::internal::GetCapturedStdout();
  }
  bool KbFilesExist() {
    for (int i = 1; i <= 4; ++i)
      if (std::filesystem::exists("HOLVA_data-1-" + std::to_string(i) + ".dat")) return true;
    return false;
  }
};

}  // namespace

TEST_F(LearningKeysTest, KeysChooseTheGestureAndRefuseWhatCannotRun) {
  EXPECT_EQ(Key('5'), "SET: Gesture to teach = [ 5 ] [ F ]\n");
  EXPECT_EQ(control.TeachGesture, 5);
  Key('8');  // not a gesture
  EXPECT_EQ(control.TeachGesture, 5);

  // Camera off: nothing starts, the player stays as it was.
  EXPECT_NE(Key('g').find("switch the camera on first"), std::string::npos);
  EXPECT_EQ(TeachingStateText(), "refused: switch the camera on first (q)");
  EXPECT_EQ(control.LearnGesture, -1);
  EXPECT_EQ(player.PlayerMode, 1);

  StillCamera();
  // A pass needs the gesture's standard motion.
  EXPECT_NE(Key('s').find("has no standard motion yet"), std::string::npos);
  EXPECT_EQ(learn.LearningPasses, 0);

  // Nothing taught: nothing is saved, no file appears.
  EXPECT_NE(Key('w').find("NOT SAVED: no gesture has been taught"), std::string::npos);
  EXPECT_FALSE(KbFilesExist());
}

TEST_F(LearningKeysTest, StandardEntryPreparesTheGestureAndCountsIn) {
  StillCamera();
  learn.NEROI = 7, learn.UseRoiMask = 1, learn.SKIP = 2.0, learn.RSKIP = 3.0;
  control.DifferenceSum2 = 99, control.DifferenceCnt = 3;
  Key('2');
  const std::string out = Key('g');
  EXPECT_EQ(control.LearnGesture, 2);
  EXPECT_EQ(learn.pos_num, 2);
  EXPECT_EQ(player.PlayerMode, 0);
  EXPECT_EQ(learn.NEROI, 32);
  EXPECT_EQ(learn.UseRoiMask, 0);
  EXPECT_EQ(learn.SKIP, 1.0);
  EXPECT_EQ(learn.RSKIP, 1.0);
  EXPECT_EQ(control.DifferenceSum2, 0);
  EXPECT_EQ(control.DifferenceCnt, 0);
  EXPECT_EQ(learning.TeachCountdown, 0);
  // Five countdown texts, then the learning line and GO!, in this order; a still camera
  // passes the stillness check without a STOP.
  size_t at = 0;
  for (int n = 5; n >= 1; --n) {
    const std::string t =
        "---> START THE LEARNING OF STANDARD BODY MOTION for [ C ]. GET READY! (" + std::to_string(n) + ")\n";
    const size_t p = out.find(t, at);
    ASSERT_NE(p, std::string::npos) << t;
    at = p;
  }
  const size_t learning = out.find("*** LEARNING STANDARD BODY MOTION for [ C ] ***\n");
  EXPECT_GT(learning, at);
  EXPECT_GT(out.find("\n OOO            O \n"), learning);
  EXPECT_EQ(out.find("STOP YOUR BODY MOTION"), std::string::npos);
  // The text was drawn over the player window.
  ASSERT_TRUE(display.hd.shown.count(kPlayerWindow));
  EXPECT_EQ(display.hd.shown[kPlayerWindow].type(), CV_8UC3);

  // A second start is refused until the taught motion has ended.
  EXPECT_NE(Key('g').find("still going on"), std::string::npos);
  EXPECT_STREQ(control.TeachRefusal, "a learning run is still going on");  // the view shows the running one
}

TEST_F(LearningKeysTest, EntriesForReplaysSkipCountdownAndStillnessCheck) {
  // No camera at all: a replay calls the entries with interactive = false.
  testing::internal::CaptureStdout();
  StandardMotionEntry(4, false);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("GET READY"), std::string::npos);
  EXPECT_NE(out.find("*** LEARNING STANDARD BODY MOTION for [ E ] ***"), std::string::npos);
  EXPECT_EQ(control.LearnGesture, 4);

  control.LearnGesture = -1;
  learn.pos_num = 1;
  learn.SKIP = 2.0;  // the passes run at full resolution, as the standard motion did
  testing::internal::CaptureStdout();
  SimilarMotionEntry(4, 3, false);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("GET READY"), std::string::npos);
  EXPECT_NE(out.find("*** LEARNING SIMILAR BODY MOTION for [ E ] ***"), std::string::npos);
  EXPECT_NE(out.find("\n OOO            O  O \n"), std::string::npos);  // GO!!
  EXPECT_EQ(learn.LearningPasses, 3);
  EXPECT_EQ(learn.pos_num, 4);
  EXPECT_EQ(learn.SKIP, 1.0);
  EXPECT_EQ(player.PlayerMode, 0);
  SimilarMotionEntry(4, 0, false);
  EXPECT_EQ(learn.LearningPasses, 1);  // at least one pass
}

TEST_F(LearningKeysTest, StillnessCheckWaitsOutMotion) {
  // Two moving frames, then stillness: two STOP warnings, then the check ends.
  std::vector<cv::Mat> frames;
  for (int v : {20, 200, 20, 20}) frames.emplace_back(kCamH, kCamW, CV_8UC1, cv::Scalar(v));
  UseScriptedCamera(frames, false);
  testing::internal::CaptureStdout();
  TurnCameraOn();
  testing::internal::GetCapturedStdout();
  ZAV_Capture();  // the buffers hold the first picture
  FeedFrame(LatestGrayFrame());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(StillnessCheck());
  const std::string out = testing::internal::GetCapturedStdout();
  // The banner once when the wait starts; in a log one progress line a second.
  EXPECT_EQ(CountOf(out, " STOP YOUR BODY MOTION, NOW! [ DThreshold=40,   rv="), 1) << out;
  EXPECT_EQ(CountOf(out, " OOOO  OOOOO   OOO   OOOO  \n"), 1);
}

// ESC cancels a teaching wherever it is (count-in, awaited standard motion, pending pass) and
// puts back what it changed; keys typed meanwhile wait for its end and then run in order.
TEST_F(LearningKeysTest, EscCancelsTheTeachingAndHeldKeysRunAfterIt) {
  StillCamera();
  ASSERT_TRUE(EnsurePatternStore());  // gesture 2 learned things a new teaching clears
  PatternPresent[5][2][0] = 1;
  Patterns->Re[5][2][0][3] = 0.25;
  SampleTable[2][2][5][0] = {1, 0, 0.5, 3.0};
  ProtocolMap[2][2][5][7] = 0.75;
  learn.GestureInfo[2].length = 33, learn.SampleCount[2] = 12, learn.RateLimit[2] = 77.0;
  learn.NEROI = 7, learn.SKIP = 2.0, learn.RoiActive[9] = 0;
  control.DifferenceSum2 = 11, control.DifferenceCnt = 3;
  PassFrames[4][9] = 200;
  Key('2');
  // Everything a teaching may change, as it was before it: a cancel gives back each of it.
  struct Before {
    LearningState learn = orv::learn;
    EngineSetup engine = orv::engine;
    LearningWork learning = orv::learning;
    SampleTableT samples = SampleTable;
    ProtocolMapT::value_type protocol = ProtocolMap[2];
    SlotTable<int> present = PatternPresent;
    PatternStore patterns = *Patterns;
    decltype(PassFrames) passFrames = PassFrames;
    std::array<int, 5> appFields = {player.PlayerMode, control.LearnGesture, control.AutoLearnMode, control.DifferenceSum2,
                                    control.DifferenceCnt};
  };
  const auto before = std::make_unique<Before>();
  auto unchanged = [&] {
    const Before& b = *before;
    const std::array<int, 5> appFields = {player.PlayerMode, control.LearnGesture, control.AutoLearnMode, control.DifferenceSum2,
                                          control.DifferenceCnt};
    return b.learn == learn && b.engine == engine && b.learning == learning && b.samples == SampleTable && b.protocol == ProtocolMap[2] &&
           b.present == PatternPresent && Patterns && std::memcmp(&b.patterns, Patterns.get(), sizeof b.patterns) == 0 &&
           b.passFrames == PassFrames && b.appFields == appFields;
  };
  std::string err;
  for (const int round : {0, 1, 2}) {
    const int key = round == 2 ? 's' : 'g';
    display.hd.script.clear();
    app.Cycle = 0;
    player.OperatorView = 0;
    const double frame = player.frame_no;
    const long shows = display.hd.showCount;
    SCOPED_TRACE(round);
    if (round == 0) {
      // In the count-in: the countdown reads the ESC; the pause screen then takes ENTER.
      ASSERT_TRUE(ParseScript("0 ESC\n0 ENTER\n", &display.hd.script, &err));
      EXPECT_NE(Key(key).find("CANCELLED: the teaching of [ C ]"), std::string::npos);
      EXPECT_TRUE(unchanged());
      EXPECT_EQ(TeachingStateText(), "cancelled");
      continue;
    }
    const std::string started = Key(key);
    EXPECT_EQ(player.OperatorView, 2) << started;  // a teaching turns the view on
    PatternPresent[7][2][3] = 1;  // a record the teaching has taught meanwhile
    EXPECT_FALSE(unchanged());
    ASSERT_TRUE(ParseScript("1 x\n1 o\n3 ESC\n3 ENTER\n", &display.hd.script, &err));
    testing::internal::CaptureStdout();
    for (int c = 0; c < 3; ++c) EXPECT_TRUE(RunCycle());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("CANCELLED"), std::string::npos) << out;
    EXPECT_TRUE(unchanged());
    EXPECT_EQ(player.frame_no, frame);  // x and o wait ...
    EXPECT_EQ(control.HeldCount, 2);
    EXPECT_GE(display.hd.showCount - shows, 2);  // ... while the view is shown every cycle
    testing::internal::CaptureStdout();
    EXPECT_TRUE(RunCycle());
    EXPECT_TRUE(RunCycle());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(player.frame_no, frame + 1.0);  // ... and run once the teaching has ended
    EXPECT_EQ(player.OperatorView, 0);
    EXPECT_EQ(control.HeldCount, 0);
  }

  // With the camera off a motion could never come: keys run at once, so q can switch it on.
  Key('g');
  testing::internal::CaptureStdout();
  TurnCameraOff();
  display.hd.script.clear();  // the switch-off sequence has its own key wait
  ASSERT_TRUE(ParseScript("1 x\n", &display.hd.script, &err));
  const double before2 = player.frame_no;
  app.Cycle = 0;
  RunCycle();
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(display.hd.script.empty());
  EXPECT_EQ(player.frame_no, before2 + 1.0);
}

TEST_F(LearningKeysTest, SavingIsRefusedWhileLearningRuns) {
  ASSERT_TRUE(EnsurePatternStore());
  PatternPresent[0][3][0] = 1;  // gesture 3 has a standard motion
  for (auto state : {0, 1, 2}) {
    learn.LearningPasses = state == 0 ? 2 : 0;
    engine.REVIEW_MODE = state == 1 ? 1 : 0;
    control.LearnGesture = state == 2 ? 3 : -1;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(SaveKnowledgeBase());
    EXPECT_NE(testing::internal::GetCapturedStdout().find("NOT SAVED: learning is still running"),
              std::string::npos);
    EXPECT_FALSE(KbFilesExist());
  }
  control.LearnGesture = -1;
  engine.REVIEW_MODE = 0;
  learn.LearningPasses = 0;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(SaveKnowledgeBase());
  EXPECT_NE(testing::internal::GetCapturedStdout().find(" (1 pattern records).\n"), std::string::npos);
  EXPECT_TRUE(KbFilesExist());
}

TEST_F(LearningKeysTest, AutomaticLearningEndsWithCalibration) {
  ASSERT_TRUE(EnsurePatternStore());
  PatternPresent[0][0][0] = 1;
  learn.SampleCount[0] = 40;  // standard motion and a pass: nothing left to learn
  learn.GestureInfo[0].length = 25;
  player.StartFrameNum = 100, player.EndFrameNum = 300;
  // Still values 1,000 and moving values 20,000 and 30,000: the threshold goes to the geometric
  // mean of 1,000 and 20,000, so every moving frame is above it (their mean, 25,000, would leave
  // half below).
  struct Case {
    int still, moving;
    const char* line;
  } cases[] = {
      {12, 12, "--> Updated [ VR_threshold ]: between the still level 1000 and the motion level 20000 (separation 299.48)"},
      {9, 12, "VR_threshold is kept: 9 still and 12 moving values; at least 10 of each are needed."},
  };
  for (const Case& k : cases) {
    player.VR_threshold = 7000;
    control.StillCount = k.still, control.MovingCount = k.moving;
    for (int i = 0; i < k.still; ++i) control.StillValues[static_cast<size_t>(i)] = 1000;
    for (int i = 0; i < k.moving; ++i) control.MovingValues[static_cast<size_t>(i)] = i % 2 ? 20000 : 30000;
    control.DifferenceSum2 = 300000, control.DifferenceCnt = 12;
    control.AutoLearnMode = 1;
    testing::internal::CaptureStdout();
    AutoLearningStep();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(k.line), std::string::npos) << out;
    EXPECT_EQ(control.AutoLearnMode, 0);
    EXPECT_DOUBLE_EQ(player.VR_step, 8.0);
    EXPECT_EQ(control.DifferenceSum2, 0);
    EXPECT_EQ(control.StillCount + control.MovingCount, 0);
    const int expected = k.still >= 10 ? 4472 : 7000;
    EXPECT_EQ(player.VR_threshold, expected);
    char line[120];
    std::snprintf(line, sizeof line, "*** VR_threshold=[ %d ],   DifferenceSum2=[ 300000 ],   DifferenceCnt=[ 12 ]\n\n",
                  expected);
    size_t a = out.find("Automatic learning has been finished.\n");
    size_t b = out.find("\nOOOOO  O  O   O  O   OOOO O   O OOOOO OOO    O \n");
    size_t c = out.find("\n--> Updated [ VR_step ]\n");
    size_t d = out.find("*** VR_step=[  8.000 ],   G[ 0 ].frame_num=[ 25 ],   StartFrameNum=[ 100 ],   EndFrameNum=[ 300 ]\n");
    size_t e = out.find(line);
    EXPECT_TRUE(a < b && b < c && c < d && d < e && e != std::string::npos) << out;
  }
  EXPECT_EQ(ReadFile("ZAV_THRESHOLD.dat"), "4472");  // survives the next command step

  // Gesture 0 without a pass yet: the next step starts its similar-motion pass instead.
  learn.SampleCount[0] = 0;
  control.AutoLearnMode = 1;
  testing::internal::CaptureStdout();
  AutoLearningStep();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(learn.LearningPasses, 1);
  EXPECT_EQ(learn.pos_num, 0);
  EXPECT_EQ(control.AutoLearnMode, 1);

  // Only the chosen gesture 3, which has no standard motion yet: that is taught first.
  StillCamera();
  learn.LearningPasses = 0;
  control.AutoLearnMode = 2, control.AutoLearnLast = 3;
  testing::internal::CaptureStdout();
  AutoLearningStep();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(control.LearnGesture, 3);
  EXPECT_EQ(learn.LearningPasses, 0);
}

TEST_F(LearningKeysTest, FunctionListEndsWithTheLearningKeys) {
  testing::internal::CaptureStdout();
  ShowFunctionList();
  const std::string out = testing::internal::GetCapturedStdout();
  const size_t list = out.find("[ ORVANTE Ver.1.1 ");
  const size_t block = out.find("[ Gesture learning keys ]");
  ASSERT_NE(block, std::string::npos);
  EXPECT_LT(list, block);
  for (const char* k : {"[ 0 .. 7 ]", "[ g ]", "[ s ]", "[ a ]", "[ w ]", "[ESC]       while teaching", "[ o ]"})
    EXPECT_NE(out.find(k, block), std::string::npos) << k;
}

// The player binary on a still camera with a pass or a standard motion pending (it once neither
// drew nor read keys until a motion came, for ever): ESC cancels, Enter resumes, and what w then
// saves is byte for byte the knowledge base loaded; a script used up during a pass cancels and quits.
TEST(TeachingProcess, EscEndsAPassPendingInAStillScene) {
  TempDir dir;
  const auto demo = dir.path / "demo", work = demo / "work";
  ProcOptions o;
  o.cwd = dir.path;
  o.timeoutSeconds = 120;
  ASSERT_EQ(RunProcess({ORVANTE_DEMO_TOOL, demo.string()}, o).exitCode, 0);
  o.cwd = work;
  ASSERT_EQ(RunProcess({ORVANTE_REPLAY_TOOL, "--camera", (demo / "gesture" / "sweep_%04d.png").string(), "--learn",
                        "0", "--passes", "1", "--save", "--trace", (dir.path / "t.csv").string()}, o).exitCode, 0);
  std::vector<std::string> kb;
  for (int i = 1; i <= 4; ++i) kb.push_back(ReadFile(work / ("HOLVA_data-1-" + std::to_string(i) + ".dat")));
  std::filesystem::create_directories(dir.path / "still");
  for (int i = 0; i < 3; ++i)
    std::filesystem::copy_file(demo / "gesture" / "sweep_0000.png", dir.path / "still" / ("s_000" + std::to_string(i) + ".png"));
  o.timeoutSeconds = 30;
  o.env = {{"ORVANTE_HEADLESS", "1"}, {"ORVANTE_SCRIPT", (dir.path / "script.txt").string()},
           {"ORVANTE_CAMERA", (dir.path / "still" / "s_%04d.png").string()}};
  for (const char* script : {"1 q\n5 s\n60 ESC\n61 ESC\n", "1 q\n5 s\n60 ESC\n61 ENTER\n62 w\n63 ESC\n64 ESC\n", "1 q\n5 s\n",
                             "1 q\n5 g\n60 ESC\n61 ENTER\n62 w\n63 ESC\n64 ESC\n"}) {
    SCOPED_TRACE(script);
    WriteFile(dir.path / "script.txt", script);
    const ProcResult r = RunProcess({ORVANTE_BINARY}, o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(CountOf(r.out, "\nSAVED: "), std::string(script).find(" w\n") != std::string::npos ? 1 : 0);
    EXPECT_EQ(CountOf(r.out, "CANCELLED: the teaching of [ A ]"), 1) << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
    for (int i = 1; i <= 4; ++i)
      EXPECT_EQ(ReadFile(work / ("HOLVA_data-1-" + std::to_string(i) + ".dat")), kb[static_cast<size_t>(i - 1)]) << i;
  }
}

// The keys held while a teaching holds the keyboard: 64 kept in order, the 65th dropped, and
// after the teaching one a cycle, with a key typed then going behind them.
TEST_F(LearningKeysTest, HeldKeysKeepSixtyFourInOrderAndDropTheRest) {
  StillCamera();
  control.TeachEntry = 1;  // a count-in runs
  std::string script, typed;
  for (int k = '!'; k <= 'a'; ++k) {
    script += "0 " + std::string(1, static_cast<char>(k)) + "\n";
    typed += static_cast<char>(k);
  }
  ASSERT_EQ(typed.size(), static_cast<size_t>(kHeldKeysMax + 1));
  std::string err;
  ASSERT_TRUE(ParseScript(script + "1 z\n", &display.hd.script, &err)) << err;
  for (size_t i = 0; i < typed.size(); ++i) EXPECT_EQ(PollKey(1), 255);
  EXPECT_EQ(control.HeldCount, kHeldKeysMax);
  control.TeachEntry = 0;
  std::string got(1, static_cast<char>(PollKey(1)));
  display.cycle = 1;  // z is typed once one held key has run
  for (int i = 0; i < kHeldKeysMax; ++i) got += static_cast<char>(PollKey(1));
  EXPECT_EQ(got, typed.substr(0, kHeldKeysMax) + "z");
  EXPECT_EQ(control.HeldCount, 0);
  EXPECT_EQ(PollKey(1), 255);
}
