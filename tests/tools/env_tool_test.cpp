// orvante-env: listing, setting and refusing, checked against the player's own loader.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "control/control_state.h"
#include "player/player_state.h"
#include "control/control.h"
#include "control/env_items.h"
#include "support/process.h"

namespace fs = std::filesystem;
using namespace orvtest;

namespace {

// 17 basic items and the 1,280 key frames (key frame 2 set), without the optional five.
std::string ShortFile() {
  std::string t = "4 1 50 12.5 7000 1 2.5\n3 1 2 5 300 1 1 0 3 7\n";
  for (int i = 0; i < 1280; ++i) t += i == 2 ? "40.5 " : "0 ";
  return t + "\n";
}

struct EnvRun {
  TempDir t;
  fs::path work = t.path / "work";
  fs::path file = work / "zav_env0002.dat";
  EnvRun() {
    fs::create_directories(work);
    WriteFile(file, ShortFile());
  }
  ProcResult Run(const std::vector<std::string>& items) {
    std::vector<std::string> argv{ORVANTE_ENV_TOOL, file.string()};
    argv.insert(argv.end(), items.begin(), items.end());
    ProcOptions opt;
    opt.cwd = work;
    return RunProcess(argv, opt);
  }
};

}  // namespace

TEST(EnvTool, ListSetListAndThePlayerReadsWhatWasSet) {
  EnvRun e;
  ProcResult list = e.Run({});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_NE(list.out.find("\nVR_step            = 2.5 "), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\nKeyFrameNumber[2]  = 40.5 "), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("KeyFrameNumber[3]"), std::string::npos);  // empty key frames are only counted
  EXPECT_NE(list.out.find("1279 key frames are 0"), std::string::npos);
  EXPECT_NE(list.out.find("not in the file"), std::string::npos);  // the optional five

  ProcResult set = e.Run({"VR_step=0.25", "KeyFrameNumber[7]=33", "flip_mode=2", "MonitorMode=2"});
  ASSERT_EQ(set.exitCode, 0) << set.err;
  EXPECT_NE(set.out.find("SET: VR_step = 0.25 (was 2.5)\n"), std::string::npos) << set.out;
  EXPECT_NE(set.out.find("SET: flip_mode = 2 (was not in the file)\n"), std::string::npos) << set.out;
  // Only the named numbers changed, in place; the optional five were added after the key frames.
  std::string expected = "4 1 50 12.5 7000 1 0.25\n3 1 2 5 300 2 1 0 3 7\n";
  for (int i = 0; i < 1280; ++i) expected += i == 2 ? "40.5 " : i == 7 ? "33 " : "0 ";
  expected += "\n0 0 0 0 2\n";
  EXPECT_EQ(ReadFile(e.file), expected);

  ProcResult again = e.Run({});
  EXPECT_NE(again.out.find("\nVR_step            = 0.25 "), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("\nKeyFrameNumber[7]  = 33 "), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("\nflip_mode          = 2 "), std::string::npos) << again.out;

  // The player reads the edited file (content 1 names zav_env0002.dat) with the same values.
  ASSERT_EQ(::chdir(e.work.c_str()), 0);
  orv::player = orv::PlayerState{};
  orv::player.ContentNumber = 1;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  orv::LoadEnv();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(orv::control.EnvFile, "zav_env0002.dat");
  EXPECT_DOUBLE_EQ(orv::player.VR_step, 0.25);
  EXPECT_DOUBLE_EQ(orv::player.KeyFrameNumber[2], 40.5);
  EXPECT_DOUBLE_EQ(orv::player.KeyFrameNumber[7], 33.0);
  EXPECT_EQ(orv::control.MonitorMode, 2);
  EXPECT_EQ(orv::player.flip_mode, 2);
  EXPECT_EQ(orv::player.MaxCount, 50);
}

TEST(EnvTool, RefusedValuesLeaveTheFileByteIdentical) {
  EnvRun e;
  const std::string before = ReadFile(e.file);
  struct Case {
    std::vector<std::string> items;
    const char* says;
  };
  const Case cases[] = {
      {{"SampleStep=0"}, "outside 1..320"},
      {{"VR_step=3", "MaxCount=22001"}, "outside 1..22000"},  // one bad value stops all
      {{"frame_no=nan"}, "frame_no = nan is outside 0 <= v < 22000"},
      {{"KeyFrameIndex=1.5"}, "not a whole number"},
      {{"Direction=2x"}, "not a whole number"},
      {{"VR_step="}, "not a number"},
      {{"KeyFrameNumber[1280]=5"}, "no such item"},
      {{"flip_mode=3"}, "outside 0..2"},
      {{"VR_step"}, "expected ITEM=VALUE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    ProcResult r = e.Run(c.items);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("is unchanged"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(e.file), before);
  }
}

TEST(EnvTool, ItemsBehindTextThatIsNoNumberAreRefusedThoseBeforeItAreSet) {
  EnvRun e;
  WriteFile(e.file, "4 0 50 0.0 7000 abc 1.0\n");  // the player stops reading at abc
  ProcResult list = e.Run({});
  EXPECT_NE(list.out.find("Direction and every item after it: not a number here (\"abc 1.0\")"), std::string::npos)
      << list.out;
  ProcResult refused = e.Run({"VR_step=2"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(ReadFile(e.file), "4 0 50 0.0 7000 abc 1.0\n");
  ProcResult set = e.Run({"VR_threshold=9000"});
  EXPECT_EQ(set.exitCode, 0) << set.err;
  EXPECT_EQ(ReadFile(e.file), "4 0 50 0.0 9000 abc 1.0\n");
}

// Kept fuzz input (fuzz/regressions/env_items): key frames 4 and 5 written "0..0", which the
// loader reads as 0. and .0. Setting key frame 5 to 12.5 used to make it "0.12.5", so key
// frame 4 became 0.12; the value set is now set apart from its neighbours.
TEST(EnvTool, ASetValueNeverRunsIntoTheNumberBesideIt) {
  orv::EnvDocument doc;
  std::string err;
  ASSERT_TRUE(orv::ReadEnvFile(std::string(ORVANTE_SOURCE_DIR) + "/fuzz/regressions/env_items/key-frames-touching",
                               &doc, &err))
      << err;
  const orv::EnvDocument before = doc;
  const int kf = orv::kEnvFirstKeyFrame;
  ASSERT_GT(doc.values.size(), static_cast<size_t>(kf + 6));
  ASSERT_TRUE(orv::SetEnvItems(&doc, {{kf + 5, "12.5"}, {kf + 3, "7"}}, &err)) << err;
  ASSERT_EQ(doc.values.size(), before.values.size());
  for (size_t i = 0; i < doc.values.size(); ++i) {
    const double want = i == static_cast<size_t>(kf + 5) ? 12.5 : i == static_cast<size_t>(kf + 3) ? 7.0 : before.values[i];
    EXPECT_EQ(doc.values[i], want) << orv::EnvItemName(static_cast<int>(i));
  }
}
