#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "../support/process.h"
#include "common/control_state.h"
#include "common/display.h"
#include "control/control.h"
#include "player/player.h"

using namespace orv;
using orvtest::CountOf;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::chdir(dir_.path.c_str()), 0);
    control = ControlState{};
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
  EXPECT_EQ(control.CamFlipV, 0);
  EXPECT_EQ(control.CamFlipH, 0);
  EXPECT_EQ(control.CamChan, 1);
  EXPECT_EQ(control.CamOnMemory, 1);
  EXPECT_EQ(control.CamBeep, 1);
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
  EXPECT_EQ(control.CamFlipH, 1);
  EXPECT_EQ(control.CamChan, 0);

  control.CamChan = 5;
  control.CamBeep = 1;
  Write("1 0");
  Read();
  EXPECT_EQ(control.CamFlipV, 1);
  EXPECT_EQ(control.CamFlipH, 0);
  EXPECT_EQ(control.CamChan, 5);
  EXPECT_EQ(control.CamBeep, 1);

  Write("0 x 3 1 0");  // reading stops at the first word that is not a number
  Read();
  EXPECT_EQ(control.CamFlipV, 0);
  EXPECT_EQ(control.CamFlipH, 0);
  EXPECT_EQ(control.CamChan, 5);
}

TEST_F(SettingsTest, EverySwitchOnReadsTheFileAgain) {
  UseHeadlessDisplay();
  UseScriptedCamera({});
  Write("0 1 2 1 0");
  testing::internal::CaptureStdout();
  TurnCameraOn();
  TurnCameraOff();
  EXPECT_EQ(control.CamChan, 2);
  Write("1 1 3 1 1");
  TurnCameraOn();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(control.CamChan, 3);
  EXPECT_EQ(control.CamFlipV, 1);
  EXPECT_EQ(control.CamBeep, 1);
  EXPECT_EQ(CountOf(out, " 4 : [ CamOnMemory (Set 1 -- 5400)] \n"), 2);
}
