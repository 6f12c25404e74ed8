#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "../support/process.h"
#include "common/display.h"
#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "player/player.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"

using namespace orv;
using orvtest::CountOf;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::chdir(dir_.path.c_str()), 0);
    player = PlayerState{};
    learn = LearningState{};
    engine = EngineSetup{};
    learning = LearningWork{};
  }
  void Write(const std::string& text) { orvtest::WriteFile(dir_.path / "SetCamera3.txt", text); }
  static std::string Read() {
    testing::internal::CaptureStdout();
    ReadCameraSettings();
    return testing::internal::GetCapturedStdout();
  }
  orvtest::TempDir dir_;
};

}  // namespace

TEST_F(SettingsTest, FiveNumbersSetFourSettingsAndTheMemoryStaysOne) {
  Write("0\n0 1\n100   1 trailing text 9\n");
  const std::string out = Read();
  EXPECT_EQ(player.CamFlipV, 0);
  EXPECT_EQ(player.CamFlipH, 0);
  EXPECT_EQ(player.CamChan, 1);
  EXPECT_EQ(player.CamOnMemory, 1);
  EXPECT_EQ(learn.CamBeep, 1);
  EXPECT_EQ(out,
            "\n--------------------------------------\n"
            " 1 : [ CamFlipV    (Set 0 or 1)] \n"
            " 2 : [ CamFlipH    (Set 0 or 1)] \n"
            " 3 : [ CamChan     (Set 0 -- n)] \n"
            " 4 : [ CamOnMemory (Set 1 -- 5400)] \n"
            " 5 : [ CamBeep     (Set 0 or 1)] \n"
            "--------------------------------------\n"
            "SET: CamFlipV     = 0 ( 1-> Invert Camera Image Vertically) \n"
            "SET: CamFlipH     = 0 ( 1-> Invert Camera Image Horizontally) \n"
            "SET: CamChan      = 1 ( Camera ID number ) \n"
            "SET: CamOnMemory  = 1 ( Number of On-Memory Frames ) \n"
            "SET: CamBeep      = 1 ( 1-> Beep ON ) \n");
}

TEST_F(SettingsTest, MissingFileIsSilentAndShortFileKeepsTheRest) {
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(player.CamFlipH, 1);
  EXPECT_EQ(player.CamChan, 0);

  player.CamChan = 5;
  learn.CamBeep = 1;
  Write("1 0");
  Read();
  EXPECT_EQ(player.CamFlipV, 1);
  EXPECT_EQ(player.CamFlipH, 0);
  EXPECT_EQ(player.CamChan, 5);
  EXPECT_EQ(learn.CamBeep, 1);

  Write("0 x 3 1 0");  // reading stops at the first word that is not a number
  Read();
  EXPECT_EQ(player.CamFlipV, 0);
  EXPECT_EQ(player.CamFlipH, 0);
  EXPECT_EQ(player.CamChan, 5);
}

TEST_F(SettingsTest, EverySwitchOnReadsTheFileAgain) {
  UseHeadlessDisplay();
  UseScriptedCamera({});
  Write("0 1 2 1 0");
  testing::internal::CaptureStdout();
  TurnCameraOn();
  TurnCameraOff();
  EXPECT_EQ(player.CamChan, 2);
  Write("1 1 3 1 1");
  TurnCameraOn();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(player.CamChan, 3);
  EXPECT_EQ(player.CamFlipV, 1);
  EXPECT_EQ(learn.CamBeep, 1);
  EXPECT_EQ(CountOf(out, " 4 : [ CamOnMemory (Set 1 -- 5400)] \n"), 2);
}

TEST_F(SettingsTest, ValuesAreTakenAsWrittenUnlessTheyAreBeyondAnInt) {
  const struct {
    const char* text;
    int flipV, flipH, chan, beep;
    const char* warning;  // "" = none
  } cases[] = {
      {"5 -1 40 9999 7", 5, -1, 40, 7, ""},  // any non-zero flips or beeps; channel 40 has no shared word
      {"0 0 -3 1 0", 0, 0, -3, 0, ""},
      {"1 1 99999999999 1 1", 1, 1, 9, 1, "CamChan = 99999999999"},  // would wrap to a valid-looking int
      {"1 1 4294967298 1 1", 1, 1, 9, 1, "CamChan = 4294967298"},
      {"-9999999999 0 2 1 1", 8, 0, 2, 1, "CamFlipV = -9999999999"},
      {"1 0 2 1e9999 1", 1, 0, 2, 0, ""},  // "1e9999": 1 is the memory item, "e9999" ends the reading
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    player = PlayerState{};
    learn = LearningState{};
    engine = EngineSetup{};
    learning = LearningWork{};
    player.CamFlipV = 8, player.CamChan = 9;
    Write(c.text);
    testing::internal::CaptureStderr();
    Read();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(player.CamFlipV, c.flipV);
    EXPECT_EQ(player.CamFlipH, c.flipH);
    EXPECT_EQ(player.CamChan, c.chan);
    EXPECT_EQ(player.CamOnMemory, 1);
    EXPECT_EQ(learn.CamBeep, c.beep);
    if (*c.warning)
      EXPECT_NE(err.find(std::string("WARNING: SetCamera3.txt: ") + c.warning), std::string::npos) << err;
    else
      EXPECT_EQ(err, "");
  }
}
