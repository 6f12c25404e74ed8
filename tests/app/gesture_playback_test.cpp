// Gesture-driven playback: phase onto frames, OK_VAR widening, status lines and gauge.
#include <gtest/gtest.h>

#include "../control/player_fixture.h"
#include "app/app_state.h"
#include "control/control_state.h"
#include "kb/learning_state.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "app/gesture_playback.h"

using namespace orv;
using namespace orvtest;

namespace {

struct GesturePlaybackTest : PlayerTest {
  void SetUp() override {
    PlayerTest::SetUp();
    recog = RecognitionState{};
  }
  // A judgement of gesture 0 at `phase` of `length`.
  void Judged(int phase, int length) {
    recog.JudgedGesture = 0;
    recog.PHASE = phase;
    recog.JudgedLength = length;
  }
  std::string Status() {
    testing::internal::CaptureStdout();
    GestureStatus();
    return testing::internal::GetCapturedStdout();
  }
};

}  // namespace

TEST_F(GesturePlaybackTest, PhaseMapsOntoContentOrReplayPeriod) {
  struct Case {
    int phase, length, count, reversed, start, end;
    double frame;
  } cases[] = {
      {50, 100, 200, 0, 0, 0, 99.0},     // half way
      {50, 100, 200, 1, 0, 0, 99.0},     // half way backwards is the same frame
      {100, 100, 200, 0, 0, 0, 199.0},   // the end is the last frame
      {100, 100, 200, 1, 0, 0, 0.0},     // reversed end: -1 held at the first frame
      {1, 4, 1000, 0, 100, 300, 149.0},  // a quarter of the period
      {1, 4, 1000, 1, 100, 300, 249.0},
      {4, 4, 250, 0, 100, 300, 249.0},   // period beyond the content: last frame
      {1, 200, 1000, 0, 100, 300, 100.0},  // below the period's start: its start
      {1, 4, 1000, 0, 0, 0, 249.0},      // 0..0 is no period
      {1, 4, 1000, 0, 300, 100, 249.0},  // a reversed period is none either
  };
  for (const Case& c : cases) {
    player.frame_no = 7.0;
    player.MaxCount = c.count;
    control.MouseReverseFlag = c.reversed;
    player.StartFrameNum = c.start;
    player.EndFrameNum = c.end;
    Judged(c.phase, c.length);
    MapPhaseToFrame();
    EXPECT_DOUBLE_EQ(player.frame_no, c.frame) << c.phase << "/" << c.length << " rev " << c.reversed << " period "
                                               << c.start << ".." << c.end;
  }
  // No phase, or no learned length: the frame stays where it is.
  for (auto [phase, length] : {std::pair{0, 100}, {-1, 100}, {-4, 100}, {5, 0}}) {
    player.frame_no = 7.0;
    Judged(phase, length);
    MapPhaseToFrame();
    EXPECT_EQ(player.frame_no, 7.0);
  }
}

TEST_F(GesturePlaybackTest, LimitWidensWhenMoreThanThreeInTenJudgementsExceedIt) {
  learn.OK_VAR[2] = 1000.0;
  // First judgement ever, above the limit: one of one -> widened at once, entry counted afresh.
  recog.SampleSpread = 5000.0;
  AdaptOkLimit(2);
  EXPECT_DOUBLE_EQ(learn.OK_VAR[2], 1030.0);
  EXPECT_EQ(app.OkHistory[2][0], 2);
  EXPECT_EQ(app.OkHistory[2][1], 0);

  // Six more within (seven entries of 2), then three above: 3/10 is not above 0.3.
  learn.OK_VAR[2] = 1000.0;
  recog.SampleSpread = 10.0;
  for (int i = 0; i < 6; ++i) AdaptOkLimit(2);
  recog.SampleSpread = 1000.5;
  for (int i = 0; i < 3; ++i) AdaptOkLimit(2);
  EXPECT_DOUBLE_EQ(learn.OK_VAR[2], 1000.0);
  EXPECT_EQ(app.OkHistory[2][0], 1);
  // The fourth: 4/11 -> widened, and every entry counts as within again.
  AdaptOkLimit(2);
  EXPECT_DOUBLE_EQ(learn.OK_VAR[2], 1030.0);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(app.OkHistory[2][i], 2) << i;
  EXPECT_EQ(app.OkHistory[2][11], 0);
  // Equal to the limit is within it; other gestures keep their rows and limits.
  recog.SampleSpread = 1030.0;
  AdaptOkLimit(2);
  EXPECT_EQ(app.OkHistory[2][0], 2);
  EXPECT_DOUBLE_EQ(learn.OK_VAR[1], 2000000.0);
  EXPECT_EQ(app.OkHistory[1][0], 0);
}

TEST_F(GesturePlaybackTest, HistoryKeepsThirtyJudgements) {
  learn.OK_VAR[0] = 1.0;
  recog.SampleSpread = 0.0;
  for (int i = 0; i < 40; ++i) AdaptOkLimit(0);
  for (int v : app.OkHistory[0]) EXPECT_EQ(v, 2);
  // Ten above among thirty: 10/30 > 0.3 widens on the tenth, not before.
  recog.SampleSpread = 2.0;
  for (int i = 0; i < 9; ++i) AdaptOkLimit(0);
  EXPECT_DOUBLE_EQ(learn.OK_VAR[0], 1.0);
  AdaptOkLimit(0);
  EXPECT_DOUBLE_EQ(learn.OK_VAR[0], 1.03);
}

TEST_F(GesturePlaybackTest, GaugeFields) {
  // Phase 9 of 18, no acceleration, width 100 %, no speed.
  std::string expect(103, '.');
  expect[0] = '|';
  expect[9] = '#';
  expect[19] = ' ';
  expect[30] = '#';  // ACCEL 0 falls on its zero mark
  expect[39] = ' ';
  expect[40] = '|';
  expect[58] = '#';
  expect[59] = ' ';
  expect[70] = '#';  // SPEED 0 likewise
  expect[79] = ' ';
  expect[80] = '|';
  expect[81] = '#';
  expect[101] = '|';
  expect[102] = ' ';
  EXPECT_EQ(GestureGauge(9, 18, 0, 100, 0), expect);

  // Extremes are held at the ends of their fields; a phase at 0 overwrites the left '|'.
  const std::string lo = GestureGauge(0, 50, -100, -5, -500);
  EXPECT_EQ(lo[0], '#');
  EXPECT_EQ(lo[20], '#');
  EXPECT_EQ(lo[30], '|');
  EXPECT_EQ(lo[40], '#');
  EXPECT_EQ(lo[60], '#');
  EXPECT_EQ(lo[70], '|');
  const std::string hi = GestureGauge(500, 50, 100, 900, 500);
  EXPECT_EQ(hi[18], '#');
  EXPECT_EQ(hi[38], '#');
  EXPECT_EQ(hi[58], '#');
  EXPECT_EQ(hi[78], '#');
  EXPECT_EQ(hi.size(), 103u);
  // Truncation, not rounding: ACCEL 1 -> 11.5 -> 31; SPEED -12 -> 8.92 -> 68; a length of 0.
  const std::string mid = GestureGauge(3, 0, 1, 50, -12);
  EXPECT_EQ(mid[31], '#');
  EXPECT_EQ(mid[49], '#');
  EXPECT_EQ(mid[68], '#');
  EXPECT_EQ(mid[18], '#');  // phase over a zero length is held at the right end
}

TEST_F(GesturePlaybackTest, StatusLinesByMonitorModeAndPhase) {
  player.MaxCount = 200;
  player.frame_no = 99.0;
  Judged(50, 100);
  recog.ACCEL = 2;
  recog.WIDTH = 40;
  recog.SPEED = 30;
  control.MonitorMode = 0;
  EXPECT_EQ(Status(), "");
  control.MonitorMode = 1;
  EXPECT_EQ(Status(), "[   99/  200] " + GestureGauge(50, 100, 2, 40, 30) + "\n");
  control.MonitorMode = 2;
  // 99 / 199 x 65 = 32.3: 33 cells filled.
  EXPECT_EQ(Status(), "[   99/  200]" + std::string(33, '#') + std::string(32, '.') + "\n");
  player.PreviewMode = 1;
  player.CameraOn = 1;
  EXPECT_EQ(Status(), "");  // the preview shows the motion instead
  player.CameraOn = 0;

  // End of a sequence: only the rv line, whatever the monitor level.
  control.MonitorMode = 1;
  recog.PHASE = -1;
  std::snprintf(recog.JudgedName, sizeof recog.JudgedName, " %s", "A");
  recog.rv = 123.9;
  recog.rt = 0.25;
  recog.INP_FNUM = 17;
  EXPECT_EQ(Status(),
            "[A]   rv=  123   rt= 0.250   PHASE=  -1   SPEED=  30   ACCEL=  2   WIDTH= 40   INP_FNUM=  17\n");

  // Nothing while a pass or a review runs.
  learn.LearningPasses = 1;
  EXPECT_EQ(Status(), "");
  learn.LearningPasses = 0;
  engine.REVIEW_MODE = 1;
  EXPECT_EQ(Status(), "");
}
