// Threshold file, counting switches, pause screen, help and the home-folder copies.
#include <gtest/gtest.h>

#include "common/platform.h"

#include <filesystem>

#include "player_fixture.h"
#include "control/control_state.h"
#include "common/display.h"
#include "kb/learning_state.h"
#include "player/player_state.h"
#include "control/control.h"
#include "player/motion.h"

using namespace orv;
namespace fs = std::filesystem;

namespace {

class SettingCommands : public orvtest::PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    UseContent(6);
  }
  std::string Run(int key, bool expectGoOn = true) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(DispatchKey(key), expectGoOn);
    return testing::internal::GetCapturedStdout();
  }
  std::string ThresholdFile() { return orvtest::ReadFile(work_ / "ZAV_THRESHOLD.dat"); }
};

TEST_F(SettingCommands, RaiseAndLowerThresholdThroughTheFile) {
  orvtest::WriteFile(work_ / "ZAV_THRESHOLD.dat", "11500\n");
  control.MonitorMode = 1;
  EXPECT_EQ(Run('V'), "KEY FUNCTION : [V][ Increase ZAV_threshold ]\nSET: ZAV_threshold = [ 11548 ]\n");
  EXPECT_EQ(ThresholdFile(), "11548");
  EXPECT_EQ(control.MonitorMode, 0);
  EXPECT_EQ(player.VR_threshold, 11500);  // taken at the next command step
  Run(kNoKey);
  EXPECT_EQ(player.VR_threshold, 11548);

  orvtest::WriteFile(work_ / "ZAV_THRESHOLD.dat", "20");
  EXPECT_EQ(Run('v'), "SET: ZAV_threshold = [ 0 ]\n");
  EXPECT_EQ(ThresholdFile(), "0");

  player.SampleStep = 2;  // 76800 / 400
  Run('V');
  EXPECT_EQ(ThresholdFile(), "192");
  player.SampleStep = 0;  // outside the data model: taken as 1, no division by zero
  Run('V');
  EXPECT_EQ(ThresholdFile(), "960");
  EXPECT_FALSE(fs::exists(work_ / "ZAV_THRESHOLD.dat.tmp"));
}

TEST_F(SettingCommands, MissingThresholdFileIsReportedAndCreated) {
  EXPECT_EQ(Run('v'), "[ NG ] Read Failed : [ ZAV_THRESHOLD.dat ]\nSET: ZAV_threshold = [ 11452 ]\n");
  EXPECT_EQ(ThresholdFile(), "11452");

  // A threshold file that cannot be replaced: reported, and what was there stays.
  fs::remove(work_ / "ZAV_THRESHOLD.dat");
  fs::create_directory(work_ / "ZAV_THRESHOLD.dat");
  orvtest::WriteFile(work_ / "ZAV_THRESHOLD.dat" / "keep", "x");
  const std::string out = Run('V');
  EXPECT_NE(out.find("[ NG ] Write Failed : [ ZAV_THRESHOLD.dat ]\n"), std::string::npos) << out;
  EXPECT_TRUE(fs::is_regular_file(work_ / "ZAV_THRESHOLD.dat" / "keep"));
}

TEST_F(SettingCommands, OutsideEditIsTakenAtNextStep) {
  orvtest::WriteFile(work_ / "ZAV_THRESHOLD.dat", "7777");
  Run(kNoKey);
  EXPECT_EQ(player.VR_threshold, 7777);
  player.VR_threshold = 5;  // any other value lasts one step
  fs::remove(work_ / "ZAV_THRESHOLD.dat");
  Run(kNoKey);
  EXPECT_EQ(player.VR_threshold, 7777);
  orvtest::WriteFile(work_ / "ZAV_THRESHOLD.dat", "  4321 trailing");
  Run(kNoKey);
  EXPECT_EQ(player.VR_threshold, 4321);
  orvtest::WriteFile(work_ / "ZAV_THRESHOLD.dat", "garbage");
  Run(kNoKey);
  EXPECT_EQ(player.VR_threshold, 4321);
}

TEST_F(SettingCommands, CountingSwitches) {
  EXPECT_EQ(Run('H'), "");  // counting is off: no line, nothing changes
  EXPECT_EQ(Run('B'), "");
  player.motion_count = 9;
  EXPECT_EQ(player.BELL_FLAG, 1);

  player.FrameMotion[4] = 3.0;
  control.MonitorMode = 1;
  EXPECT_EQ(Run('h'), "KEY FUNCTION : [h][ Toggle Motion Count Mode ]\nSET: Motion Count Mode = [ ENABLED ]\n");
  EXPECT_EQ(player.MotionCountOff, 0);
  EXPECT_DOUBLE_EQ(player.FrameMotion[4], 0.0);
  EXPECT_EQ(Run('H'), "KEY FUNCTION : [H][ Clear motion_count ]\nSET: motion_count = [ 0 ]\n");
  EXPECT_EQ(player.motion_count, 0);
  EXPECT_EQ(Run('B'), "KEY FUNCTION : [B][ Toggle BELL_FLAG ]\nSET: BELL_FLAG = [ DISABLED ]\n");
  control.MonitorMode = 0;
  EXPECT_EQ(Run('B'), "SET: BELL_FLAG = [ ENABLED ]\n");
  EXPECT_EQ(Run('h'), "SET: Motion Count Mode = [ DISABLED ]\n");
  EXPECT_EQ(Run('J'), "SET: AutoJumpFlag = [ OFF ]\n");
  EXPECT_EQ(Run('J'), "SET: AutoJumpFlag = [ ON ]\n");
}

TEST_F(SettingCommands, PauseEditsDThresholdUntilEnter) {
  for (int i = 0; i < 300; ++i) display.hd.script.push_back({0, 'e', 0, 0, 0});
  display.hd.script.push_back({0, 'x', 0, 0, 0});  // ignored while paused
  display.hd.script.push_back({0, kKeyEnter, 0, 0, 0});
  ASSERT_TRUE(EnsureFrameLoaded(2));
  OpenSharedMemory();
  player.CameraOn = 1, player.CamChan = 2;
  player.GrayFrames[0].fill(9);
  MeasureMotion();
  ASSERT_EQ(player.SharedView[3], 43200);
  const std::string out = Run(kKeyEsc);
  EXPECT_EQ(player.SharedView[3], 0);  // nothing is measured while paused: the value goes
  EXPECT_EQ(learn.DThreshold, 84);
  EXPECT_EQ(orvtest::CountOf(out, "SET: DThreshold = [ "), 300);
  EXPECT_NE(out.find("SET: DThreshold = [ 255 ]\nSET: DThreshold = [ 0 ]\n"), std::string::npos);
  EXPECT_EQ(out.rfind("\n\n OOOO    OOO   O   O   OOOO  OOOOO  O \n", 0), 0u);
  EXPECT_NE(out.find("  OOO    OOOO    O \n\n"), std::string::npos);
  EXPECT_EQ(FrameData[2].loaded, 0);
  EXPECT_TRUE(FrameImages[2].empty());
  EXPECT_EQ(player.RedrawMark, -1.0);
  EXPECT_DOUBLE_EQ(player.frame_no, 0.0);

  learn.DThreshold = 1;
  for (int i = 0; i < 3; ++i) display.hd.script.push_back({0, 'd', 0, 0, 0});
  display.hd.script.push_back({0, kKeyEsc, 0, 0, 0});
  const std::string end = Run(kKeyEsc, false);  // ESC on the pause screen ends the program
  EXPECT_EQ(learn.DThreshold, 0);
  EXPECT_EQ(orvtest::CountOf(end, "SET: DThreshold = [ 0 ]\n"), 3);
}

TEST_F(SettingCommands, EnterShowsHelpAndNothingElse) {
  const std::string out = Run(kKeyEnter);
  EXPECT_NE(out.find(JapaneseMessages() ? "ORVANTE Ver.1.1 機能一覧" : "ORVANTE Ver.1.1 Function List"), std::string::npos);
  EXPECT_EQ(out.find("[ H ]"), std::string::npos);  // counting is off
  EXPECT_DOUBLE_EQ(player.frame_no, 0.0);
}

TEST_F(SettingCommands, SaveFrameTakesNextFreeHomeName) {
  orvtest::WriteFile(dir_.path / "clip_00000.jpg", "zero");
  orvtest::WriteFile(dir_.path / "clip_00001.jpg", "one");
  player.frame_no = 3.0;
  EXPECT_EQ(Run('t'), "EXECUTING (Clip Image) : copy ../S001/clip_00003.jpg ../clip_00002.jpg\n");
  EXPECT_EQ(orvtest::ReadFile(dir_.path / "clip_00002.jpg"), orvtest::ReadFile(dir_.path / "S001" / "clip_00003.jpg"));
  EXPECT_EQ(orvtest::ReadFile(dir_.path / "clip_00001.jpg"), "one");

  control.MonitorMode = 1;
  player.ImageShift = 2;
  EXPECT_EQ(Run('T'),
            "KEY FUNCTION : [T][ Take the Frame to Home Folder (In Consecutive Manner) ]\n"
            "EXECUTING (Clip Image) : copy ../S001/clip_00003.jpg ../clip_00003.jpg\n");
  EXPECT_DOUBLE_EQ(player.frame_no, 4.0);
  EXPECT_EQ(player.ImageShift, 0);
  EXPECT_TRUE(fs::exists(dir_.path / "clip_00003.jpg"));
}

TEST_F(SettingCommands, AddFirstClipNeedsIt) {
  EXPECT_EQ(Run('k'), "\nERROR: There is no such a file [clip_00000.jpg] in home folder.\n\n");
  orvtest::WriteFile(dir_.path / "clip_00000.jpg", "zero");
  player.frame_no = 2.0;
  EXPECT_EQ(Run('k'), "EXECUTING : copy ../clip_00000.jpg ../clip_00001.jpg\n");
  EXPECT_EQ(orvtest::ReadFile(dir_.path / "clip_00001.jpg"), "zero");
  EXPECT_DOUBLE_EQ(player.frame_no, 2.0);
}

}  // namespace

namespace {

TEST_F(SettingCommands, ThresholdFileTakesAnyIntAndKeepsTheValueOtherwise) {
  const struct {
    const char* text;
    int threshold;
    bool warned;
  } cases[] = {
      {"9000", 9000, false},       {"  8000 trailing words\n", 8000, false}, {"-5", -5, false},
      {"", 11500, false},          {"abc", 11500, false},                    {"99999999999", 11500, true},
      {"4294967298", 11500, true},  // "%d" would have read 2
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    player.ZAV_threshold = 11500;
    orvtest::WriteFile(work_ / "ZAV_THRESHOLD.dat", c.text);
    testing::internal::CaptureStderr();
    Run(kNoKey);
    Run(kNoKey);  // read in every cycle; a warning is said once per value
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(player.VR_threshold, c.threshold);
    EXPECT_EQ(orvtest::CountOf(err, "WARNING: ZAV_THRESHOLD.dat: "), c.warned ? 1 : 0) << err;
    EXPECT_EQ(orvtest::ReadFile(work_ / "ZAV_THRESHOLD.dat"), c.text);  // reading never rewrites it
  }
}

}  // namespace
