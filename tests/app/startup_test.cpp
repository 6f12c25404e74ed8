#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/app.h"
#include "app/app_state.h"
#include "common/platform.h"
#include "player/player_state.h"
#include "support/process.h"
#include "control/control.h"

namespace fs = std::filesystem;
using namespace orvtest;

namespace {

// A working directory with ../S001 beside it, as the batch copy expects.
struct BatchDirs {
  TempDir root;
  fs::path work = root.path / "work";
  fs::path s001 = root.path / "S001";
  BatchDirs() {
    fs::create_directories(work);
    fs::create_directories(s001);
  }
  ProcResult Run(const std::vector<std::string>& names) {
    std::vector<std::string> argv{ORVANTE_BINARY};
    argv.insert(argv.end(), names.begin(), names.end());
    ProcOptions opt;
    opt.cwd = work;
    opt.unsetEnv = {"DISPLAY"};
    return RunProcess(argv, opt);
  }
};

}  // namespace

TEST(CommandLine, NamesAreCutAt249BytesWithoutSplittingCharacters) {
  std::string longName(300, 'a');
  std::string utf8Name = std::string(248, 'b') + "\xE3\x81\x82";  // 'あ' straddles byte 249
  char* argv[] = {const_cast<char*>("prog"), longName.data(), utf8Name.data()};
  testing::internal::CaptureStdout();
  orv::TakeCommandLine(3, argv);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(orv::app.ArgCount, 3);
  EXPECT_EQ(std::strlen(orv::ArgName[1].data()), 249u);
  EXPECT_EQ(std::strlen(orv::ArgName[2].data()), 248u);
  EXPECT_NE(out.find("[0]prog\n[1]" + longName + "\n"), std::string::npos);
  EXPECT_NE(out.find("\nTotal length of file name strings = 501\n\n"), std::string::npos);
  EXPECT_EQ(orv::player.LinkSlot, 1);
}

TEST(BatchCopy, SortsByBytesAndTakesNextFreeNumbers) {
  BatchDirs d;
  WriteFile(d.work / "b.jpg", "bbb");
  WriteFile(d.work / "a.jpg", "aaa");
  WriteFile(d.work / "B.jpg", "BBB");
  WriteFile(d.s001 / "clip_00000.jpg", "old");
  WriteFile(d.s001 / "clip_00002.jpg", "old2");
  ProcResult r = d.Run({"b.jpg", "a.jpg", "B.jpg"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Upper case sorts before lower case; existing clips are skipped, never overwritten.
  EXPECT_EQ(ReadFile(d.s001 / "clip_00000.jpg"), "old");
  EXPECT_EQ(ReadFile(d.s001 / "clip_00001.jpg"), "BBB");
  EXPECT_EQ(ReadFile(d.s001 / "clip_00002.jpg"), "old2");
  EXPECT_EQ(ReadFile(d.s001 / "clip_00003.jpg"), "aaa");
  EXPECT_EQ(ReadFile(d.s001 / "clip_00004.jpg"), "bbb");
  EXPECT_NE(r.out.find("EXECUTING: copy \"B.jpg\" ../S001/clip_00001.jpg\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("EXECUTING: copy \"a.jpg\" ../S001/clip_00003.jpg\n"), std::string::npos);
  EXPECT_NE(r.out.find("[1]b.jpg\n[2]a.jpg\n[3]B.jpg\n"), std::string::npos);
  EXPECT_TRUE(r.out.ends_with("FINISHED.\n"));
}

TEST(BatchCopy, AtSignAndShellCharactersAreCopiedNeverRun) {
  BatchDirs d;
  const std::string at = "x@y.jpg";
  const std::string evil = "a;touch PWNED;$(touch PWNED2)`touch PWNED3`.jpg";
  WriteFile(d.work / at, "at");
  WriteFile(d.work / evil, "evil");
  ProcResult r = d.Run({at, evil});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // '$' (0x24) < 'x': the evil name sorts first.
  EXPECT_EQ(ReadFile(d.s001 / "clip_00000.jpg"), "evil");
  EXPECT_EQ(ReadFile(d.s001 / "clip_00001.jpg"), "at");
  EXPECT_NE(r.out.find("EXECUTING: copy \"x\"y.jpg\" ../S001/clip_00001.jpg\n"), std::string::npos) << r.out;
  for (const char* f : {"PWNED", "PWNED2", "PWNED3"}) {
    EXPECT_FALSE(fs::exists(d.work / f)) << f;
    EXPECT_FALSE(fs::exists(d.root.path / f)) << f;
  }
}

TEST(BatchCopy, FailuresAreReportedTheOthersCopiedAndTheExitCodeSaysSo) {
  BatchDirs d;
  const std::string tooLong(240, 'n');
  WriteFile(d.work / "ok.jpg", "ok");
  WriteFile(d.work / "z.jpg", "zz");
  fs::create_directories(d.work / "unreadable.jpg");  // opens, but cannot be read as a file
  ProcResult r = d.Run({"missing.jpg", tooLong, "unreadable.jpg", "ok.jpg", "z.jpg"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("missing.jpg"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("unreadable.jpg"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("too long"), std::string::npos) << r.err;
  // Failed copies use up their numbers (the counter moves on), the long name was refused.
  EXPECT_FALSE(fs::exists(d.s001 / "clip_00000.jpg"));
  EXPECT_EQ(ReadFile(d.s001 / "clip_00001.jpg"), "ok");
  EXPECT_FALSE(fs::exists(d.s001 / "clip_00002.jpg"));
  EXPECT_FALSE(fs::exists(d.s001 / "clip_00002.jpg.part"));  // no half file either
  EXPECT_EQ(ReadFile(d.s001 / "clip_00003.jpg"), "zz");
  EXPECT_EQ(CountOf(r.out, "EXECUTING: "), 4);
  EXPECT_TRUE(r.out.ends_with("FINISHED.\n"));
}

TEST(BatchCopy, MissingContentFolderIsNamedOnceAndFails) {
  TempDir root;
  fs::create_directories(root.path / "work");
  WriteFile(root.path / "work" / "a.jpg", "a");
  WriteFile(root.path / "work" / "b.jpg", "b");
  ProcOptions opt;
  opt.cwd = root.path / "work";
  ProcResult r = RunProcess({ORVANTE_BINARY, "a.jpg", "b.jpg"}, opt);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(CountOf(r.err, "../S001"), 1) << r.err;
  EXPECT_EQ(CountOf(r.err, "\n"), 1) << r.err;
  EXPECT_FALSE(fs::exists(root.path / "S001"));
  EXPECT_TRUE(r.out.ends_with("FINISHED.\n"));
}

TEST(FunctionList, LicenceKeysAndCameraBanner) {
  // Japanese exactly as it was under a Japanese message locale (POSIX order: LC_ALL, then
  // LC_MESSAGES, then LANG, the first non-empty one decides), English under any other.
  struct Locale {
    const char *all, *messages, *lang;
    bool japanese;
  };
  for (const Locale& l : {Locale{"", "", "ja_JP.UTF-8", true}, Locale{"C", "", "ja_JP.UTF-8", false},
                          Locale{"", "ja_JP.eucJP", "en_GB.UTF-8", true}, Locale{"", "", "", false}}) {
    setenv("LC_ALL", l.all, 1), setenv("LC_MESSAGES", l.messages, 1), setenv("LANG", l.lang, 1);
    EXPECT_EQ(orv::JapaneseMessages(), l.japanese) << l.all << "|" << l.messages << "|" << l.lang;
  }
  orv::player.MotionCountOff = 1;
  testing::internal::CaptureStdout();
  orv::ShowFunctionList();
  const std::string english = testing::internal::GetCapturedStdout();
  EXPECT_NE(english.find("[ ORVANTE Ver.1.1 Function List ]"), std::string::npos);
  EXPECT_NE(english.find("     [ o ]     operator view (teaching state, motion, gestures) on / off.\n"),
            std::string::npos);
  EXPECT_EQ(english.find("機能"), std::string::npos);

  setenv("LANG", "ja_JP.UTF-8", 1);
  testing::internal::CaptureStdout();
  orv::ShowFunctionList();
  std::string off = testing::internal::GetCapturedStdout();
  EXPECT_NE(off.find("Apache License, Version 2.0"), std::string::npos);
  EXPECT_NE(off.find("[ ORVANTE Ver.1.1 機能一覧 ]"), std::string::npos);
  EXPECT_NE(off.find("     [ q ]　   Webカメラをオンオフします。\n\n"), std::string::npos);
  EXPECT_EQ(off.find("[ H ]"), std::string::npos);
  EXPECT_EQ(off.find("WEB CAMERA IS TURNED ON"), std::string::npos);

  orv::player.MotionCountOff = 0;
  orv::player.CameraOn = 1;
  testing::internal::CaptureStdout();
  orv::ShowFunctionList();
  std::string on = testing::internal::GetCapturedStdout();
  EXPECT_NE(on.find("     [ H ]　   モーションのカウント回数を初期化します。\n"), std::string::npos);
  EXPECT_NE(on.find("ベル音をオンオフできます\n\n     [SPACE]"), std::string::npos);
  EXPECT_NE(on.find(" ***************************[ WEB CAMERA IS TURNED ON ]**************************\n"),
            std::string::npos);
  // Hiding H and B keeps the group's blank line.
  EXPECT_NE(off.find("オンオフできます\n\n     [SPACE]"), std::string::npos);
}
