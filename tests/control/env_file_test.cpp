#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/process.h"
#include "app/app_state.h"
#include "common/timer.h"
#include "control/control_state.h"
#include "player/player_state.h"
#include "control/control.h"

using namespace orv;
using orvtest::CountOf;
namespace fs = std::filesystem;

namespace {

// Items 1..17, the 1,280 key frames and the optional five, as text.
struct EnvText {
  std::vector<std::string> basic = {"2", "0", "50", "12.5", "7000", "0", "2.5", "3", "1",
                                    "2", "5", "300",  "1",  "1",    "0", "3", "7"};
  std::vector<std::string> keys = std::vector<std::string>(1280, "0");
  std::vector<std::string> extra;
  std::string Text() const {
    std::string t;
    for (const auto* v : {&basic, &keys, &extra})
      for (const auto& s : *v) t += s + ' ';
    return t;
  }
};

class EnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.path / "work");
    ASSERT_EQ(::chdir((dir_.path / "work").c_str()), 0);
    app = AppState{};
    timer = TimerState{};
    player = PlayerState{};
    control = ControlState{};
  }
  void Write(const std::string& name, const EnvText& e) { orvtest::WriteFile(dir_.path / "work" / name, e.Text()); }
  void Load() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    LoadEnv();
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
  }
  orvtest::TempDir dir_;
  std::string out_, err_;
};

}  // namespace

TEST_F(EnvTest, AllItemsReachTheirTargets) {
  EnvText e;
  e.keys[0] = "15.5";
  e.keys[1279] = "-3";
  e.extra = {"10", "40", "1", "1", "2"};
  Write("zav_env.dat", e);
  Load();
  EXPECT_EQ(player.SampleStep, 2);
  EXPECT_EQ(player.MaxCount, 50);
  EXPECT_DOUBLE_EQ(player.frame_no, 12.5);
  EXPECT_EQ(player.VR_threshold, 7000);
  EXPECT_EQ(player.Direction, 0);
  EXPECT_DOUBLE_EQ(player.VR_step, 2.5);
  EXPECT_EQ(player.BurstFlip, 3);
  EXPECT_EQ(player.IdleLimit, 300);
  EXPECT_EQ(control.MonitorMode, 1);
  EXPECT_EQ(player.PreviewMode, 1);
  EXPECT_EQ(player.WrapFlag, 0);
  EXPECT_EQ(player.PlayState, 3);
  EXPECT_EQ(player.KeyFrameIndex, 7);
  EXPECT_DOUBLE_EQ(player.KeyFrameNumber[0], 15.5);
  EXPECT_DOUBLE_EQ(player.KeyFrameNumber[1279], -3.0);
  EXPECT_EQ(player.StartFrameNum, 10);
  EXPECT_EQ(player.EndFrameNum, 40);
  EXPECT_EQ(player.flip_mode, 2);  // the player then shows frames upside down
  EXPECT_NE(out_.find("\nLOADING Additional Parameters...\n\nSET(1): StartFrameNum = 10\nSET(1): EndFrameNum   = 40\n"
                      "SET(1): MouseReverseFlag = 1\nSET(1): MouseVertFlag    = 1\nSET(1): flip_mode = 2\n"
                      "Finished Reading ZAV Parameters from File : zav_env.dat\n"),
            std::string::npos)
      << out_;
  EXPECT_EQ(err_, "");

  // Only a cut-off fifth value: the count of the failed read is printed, the target kept.
  e.extra = {"10", "40", "1", "1"};
  Write("zav_env.dat", e);
  Load();
  EXPECT_NE(out_.find("SET(-1): flip_mode = 2\n"), std::string::npos) << out_;
}

TEST_F(EnvTest, NumberedFileWinsAndAFileEndingAfterTheKeyFramesClearsTheExtras) {
  EnvText numbered, plain;
  numbered.basic[1] = "1";
  numbered.basic[2] = "20";
  plain.basic[2] = "30";
  plain.extra = {"1", "2", "3", "4", "1"};
  Write("zav_env0002.dat", numbered);
  Write("zav_env.dat", plain);
  player.ContentNumber = 1;
  player.StartFrameNum = 5;
  player.EndFrameNum = 9;
  player.flip_mode = 1;
  control.MouseReverseFlag = 1;
  Load();
  EXPECT_EQ(player.MaxCount, 20);
  EXPECT_EQ(control.EnvFile, "zav_env0002.dat");
  EXPECT_EQ(out_.find("LOADING Additional Parameters"), std::string::npos);
  EXPECT_EQ(player.StartFrameNum, 0);
  EXPECT_EQ(player.EndFrameNum, 0);
  EXPECT_EQ(player.flip_mode, 0);
  EXPECT_EQ(control.MouseReverseFlag, 0);

  // No parameter file at all: nothing changes, nothing is said.
  fs::remove(dir_.path / "work" / "zav_env0002.dat");
  fs::remove(dir_.path / "work" / "zav_env.dat");
  player.MaxCount = 77;
  Load();
  EXPECT_EQ(out_, "");
  EXPECT_EQ(player.MaxCount, 77);
}

TEST_F(EnvTest, KeyFramesImportedFromTheContentFolder) {
  fs::create_directories(dir_.path / "S001");
  std::vector<int32_t> pivots(23000, 0);
  pivots[0] = 15;
  pivots[2] = 40;
  pivots[3] = -7;     // zero and below: an empty key frame
  pivots[5] = 30000;  // beyond any content
  pivots[1280] = 99;  // beyond the key-frame ring: not used
  {
    std::ofstream f(dir_.path / "S001" / "ncx_config.dat", std::ios::binary);
    f.write(reinterpret_cast<const char*>(pivots.data()), static_cast<std::streamsize>(pivots.size() * 4));
    f << "42";
  }
  player.KeyFrameNumber[1] = 8.0;
  Load();
  EXPECT_DOUBLE_EQ(player.KeyFrameNumber[0], 15.0);
  EXPECT_DOUBLE_EQ(player.KeyFrameNumber[1], 0.0);
  EXPECT_DOUBLE_EQ(player.KeyFrameNumber[2], 40.0);
  EXPECT_DOUBLE_EQ(player.KeyFrameNumber[3], -7.0);
  EXPECT_DOUBLE_EQ(player.KeyFrameNumber[5], 0.0);
  EXPECT_EQ(CountOf(out_, "SET: KeyFrameNumber["), 2);
  EXPECT_NE(out_.find("SET: KeyFrameNumber[ 0 ] = 15.000000.\nSET: KeyFrameNumber[ 2 ] = 40.000000.\n"),
            std::string::npos);
  EXPECT_NE(out_.find("\nFound a file [ ncx_config.dat ] in the Contents Folder...\n"
                      "\nNow, Importing [ ../S001/ncx_config.dat ]\n\nPivotHistory[      0 ] = [     15 ]\n"),
            std::string::npos)
      << out_;
  EXPECT_NE(out_.find("\nThat is all.\nFinished Importing [ ../S001/ncx_config.dat ]\n"), std::string::npos);
  EXPECT_NE(err_.find("entry 5 = 30000"), std::string::npos);

  // A cut-off file leaves nothing of the previous import behind.
  orvtest::WriteFile(dir_.path / "S001" / "ncx_config.dat", std::string(8, '\0'));
  Load();
  EXPECT_DOUBLE_EQ(player.KeyFrameNumber[2], 0.0);
  EXPECT_NE(err_.find("holds 2 of 23000 entries"), std::string::npos) << err_;
}

TEST_F(EnvTest, ValuesOutsideTheirRangeAreRefusedOneByOne) {
  struct Case {
    size_t item;  // index into basic (0..16), or 100 + key frame, or 200 + extra
    const char* text;
    const char* warning;
  };
  const Case cases[] = {
      {0, "0", "SampleStep = 0"},           {0, "-3", "SampleStep = -3"},
      {1, "5000", "ContentNumber = 5000"},  {2, "0", "MaxCount = 0"},
      {2, "22001", "MaxCount = 22001"},     {3, "nan", "frame_no = nan"},
      {3, "inf", "frame_no = inf"},         {3, "1e300", "frame_no = "},
      {6, "-nan", "VR_step = "},            {16, "-1", "KeyFrameIndex = -1"},
      {16, "1280", "KeyFrameIndex = 1280"}, {100 + 3, "nan", "KeyFrameNumber[ 3 ] = nan"},
      {100 + 4, "1e12", "KeyFrameNumber[ 4 ]"}, {200 + 0, "99999", "StartFrameNum = 99999"},
      {200 + 4, "7", "flip_mode = 7"},       {4, "99999999999", "VR_threshold = 99999999999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EnvText e;
    e.extra = {"0", "0", "0", "0", "1"};
    if (c.item < 100)
      e.basic[c.item] = c.text;
    else if (c.item < 200)
      e.keys[c.item - 100] = c.text;
    else
      e.extra[c.item - 200] = c.text;
    Write("zav_env.dat", e);
    app = AppState{};
    timer = TimerState{};
    player = PlayerState{};
    control = ControlState{};
    player.KeyFrameNumber.fill(6.0);
    Load();
    EXPECT_EQ(CountOf(err_, "WARNING: zav_env.dat: "), 1) << err_;
    EXPECT_NE(err_.find(c.warning), std::string::npos) << err_;
    // The refused value keeps the previous one; the items after it are still read.
    const PlayerState defaults;
    EXPECT_EQ(player.SampleStep, c.item == 0 ? defaults.SampleStep : 2);
    EXPECT_EQ(player.ContentNumber, 0);
    EXPECT_EQ(player.MaxCount, c.item == 2 ? 0 : 50);
    EXPECT_DOUBLE_EQ(player.frame_no, c.item == 3 ? 0.0 : 12.5);
    EXPECT_DOUBLE_EQ(player.VR_step, c.item == 6 ? 0.0 : 2.5);
    EXPECT_EQ(player.KeyFrameIndex, c.item == 16 ? 0 : 7);
    EXPECT_DOUBLE_EQ(player.KeyFrameNumber[3], c.item == 103 ? 6.0 : 0.0);
    EXPECT_DOUBLE_EQ(player.KeyFrameNumber[4], c.item == 104 ? 6.0 : 0.0);
    EXPECT_EQ(player.flip_mode, c.item == 204 ? 0 : 1);
    EXPECT_EQ(player.PlayState, 3);
  }
}

TEST_F(EnvTest, TextOrTheEndWhereANumberBelongsEndsTheReading) {
  // Each case spoils one item; the items before it are taken, it and every later item keep what
  // they held, and the optional five fall back to 0 as in a file without them.
  const struct {
    size_t item;       // index into basic, or 100 + key frame
    const char* text;  // "" cuts the file there
  } cases[] = {{4, "high"}, {4, ""}, {9, "two"}, {100 + 2, "key"}, {16, "seven"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.item) + " " + c.text);
    EnvText e;
    e.extra = {"10", "40", "1", "1", "1"};
    auto& list = c.item < 100 ? e.basic : e.keys;
    const size_t at = c.item < 100 ? c.item : c.item - 100;
    list[at] = c.text;
    if (!*c.text) {
      list.resize(at);
      if (c.item < 100) e.keys.clear();
      e.extra.clear();
    }
    Write("zav_env.dat", e);
    app = AppState{};
    timer = TimerState{};
    player = PlayerState{};
    control = ControlState{};
    player.StartFrameNum = 5, player.flip_mode = 1;
    player.KeyFrameNumber.fill(6.0);
    Load();
    const PlayerState defaultPlayer;
    EXPECT_EQ(player.SampleStep, 2);
    EXPECT_EQ(player.VR_threshold, c.item > 4 ? 7000 : defaultPlayer.VR_threshold);
    EXPECT_EQ(player.KeyFrameMode, c.item > 9 ? 2 : defaultPlayer.KeyFrameMode);
    EXPECT_DOUBLE_EQ(player.KeyFrameNumber[1], c.item > 101 ? 0.0 : 6.0);
    EXPECT_DOUBLE_EQ(player.KeyFrameNumber[2], 6.0);
    EXPECT_EQ(player.StartFrameNum, 0);
    EXPECT_EQ(player.flip_mode, 0);
    EXPECT_EQ(out_.find("LOADING Additional Parameters"), std::string::npos);
    EXPECT_EQ(err_, "");
  }
}
