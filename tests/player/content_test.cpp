#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/display.h"
#include "player/player_state.h"
#include "player/player.h"
#include "support/process.h"

namespace fs = std::filesystem;
using namespace orv;
using namespace orvtest;

namespace {

// Runs the test with a working directory "work" beside the content folders.
struct ContentFixture : testing::Test {
  TempDir root;
  fs::path work = root.path / "work";
  fs::path old = fs::current_path();
  void SetUp() override {
    fs::create_directories(work);
    fs::current_path(work);
    UseHeadlessDisplay();
  }
  void TearDown() override { fs::current_path(old); }
  void Touch(const std::string& rel) { WriteFile(root.path / rel, "x"); }
  std::string Check() {
    testing::internal::CaptureStdout();
    CheckContent();
    return testing::internal::GetCapturedStdout();
  }
  // An index file whose records name paths[i]; count written as text after the block.
  void WriteIndex(const std::string& name, const std::vector<std::string>& paths, const std::string& countText,
                  bool terminate = true) {
    std::vector<FrameRecord> recs(kMaxFrames);
    std::memset(recs.data(), 0, recs.size() * sizeof(FrameRecord));
    for (size_t i = 0; i < paths.size(); ++i) {
      recs[i].loaded = 1;
      std::snprintf(recs[i].path, sizeof recs[i].path, "%s", paths[i].c_str());
      std::snprintf(recs[i].http, sizeof recs[i].http, "link%zu.jpg", i);
    }
    if (!terminate) std::memset(recs[0].file, 'f', sizeof recs[0].file);
    std::ofstream f(work / name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(recs.data()), static_cast<std::streamsize>(recs.size() * sizeof(FrameRecord)));
    f << countText;
  }
};

}  // namespace

TEST_F(ContentFixture, ScanSkipsGapsAndPacksFramesDensely) {
  fs::create_directories(root.path / "S001");
  for (int n : {0, 1, 5}) Touch("S001/clip_0000" + std::to_string(n) + ".jpg");
  std::string out = Check();
  EXPECT_EQ(player.MaxCount, 3);
  EXPECT_STREQ(FrameData[2].path, "../S001/clip_00005.jpg");
  EXPECT_EQ(player.ContentNumber, 0);
  EXPECT_NE(out.find("\n*** START CHECKING IMAGE FILES. WAIT A MOMENT! ***\n"), std::string::npos);
  EXPECT_NE(out.find("\n*** Finished. Thank you for waiting! ***\n\n"), std::string::npos);
}

TEST_F(ContentFixture, EmptyFolderFallsBackToLowerContentNumber) {
  fs::create_directories(root.path / "S003");
  MakeContent(root.path, 1, 2);
  player.ContentNumber = 2;
  std::string out = Check();
  EXPECT_EQ(player.ContentNumber, 1);
  EXPECT_EQ(player.MaxCount, 2);
  EXPECT_EQ(CountOf(out, "---> Empty folder is specified!\n"), 1);
  EXPECT_STREQ(FrameData[0].path, "../S002/clip_00000.jpg");
}

TEST_F(ContentFixture, ResetsPerContentPlayerState) {
  MakeContent(root.path, 0, 2);
  player.frame_no = 7.5;
  player.KeyFrameNumber[3] = 9.0;
  player.KeyFrameIndex = 4;
  player.Direction = 0;
  player.MotionCountOff = 0;
  player.FrameMotion[1] = 3.0;
  player.RedrawMark = 1.0;
  FrameImages[5] = cv::Mat(2, 2, CV_8UC3);
  Check();
  EXPECT_EQ(player.frame_no, 0.0);
  EXPECT_EQ(player.KeyFrameNumber[3], 0.0);
  EXPECT_EQ(player.KeyFrameIndex, 0);
  EXPECT_EQ(player.Direction, 1);
  EXPECT_EQ(player.MotionCountOff, 1);
  EXPECT_EQ(player.FrameMotion[1], 0.0);
  EXPECT_EQ(player.RedrawMark, -1.0);
  EXPECT_TRUE(FrameImages[5].empty());
}

TEST_F(ContentFixture, IndexFileWinsOverTheFolderScan) {
  MakeContent(root.path, 0, 4);
  WriteIndex("frame_data0001.dat", {"..\\S001\\clip_00003.jpg", "../S001/clip_00001.jpg"}, "  2");
  std::string out = Check();
  EXPECT_EQ(player.MaxCount, 2);
  // Windows separators of a foreign index file are turned into ours.
  EXPECT_STREQ(FrameData[0].path, "../S001/clip_00003.jpg");
  EXPECT_STREQ(FrameData[1].http, "link1.jpg");
  EXPECT_EQ(FrameData[0].loaded, 0);
  EXPECT_EQ(FrameData[1].loaded, 0);
  EXPECT_NE(out.find("\n* FINISHED READING FRAME DATA :  frame_data0001.dat\n  (Number of files = [ 2 ],  "
                     "Name of the top file = [ ../S001/clip_00003.jpg ]) \n"),
            std::string::npos)
      << out;
}

TEST_F(ContentFixture, IndexFileCountsOutsideTheTableAreBounded) {
  MakeContent(root.path, 0, 1);
  // 4294967298 is above the table too, not the 2 that a 32-bit read would make of it.
  for (const char* count : {"4294967298", "99999"}) {
    WriteIndex("frame_data0001.dat", {"../S001/clip_00000.jpg"}, count, /*terminate=*/false);
    testing::internal::CaptureStderr();
    Check();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(player.MaxCount, kMaxFrames) << count;
    EXPECT_NE(err.find(std::string("frame count ") + count + " is above 22000"), std::string::npos) << err;
  }
  testing::internal::CaptureStderr();
  Check();
  std::string err = testing::internal::GetCapturedStderr();
  // A string without an end mark is cut inside its field.
  EXPECT_EQ(std::strlen(FrameData[0].file), static_cast<size_t>(kNameSize - 1));
  EXPECT_NE(err.find("without an end mark"), std::string::npos);
}

TEST_F(ContentFixture, NegativeOrMissingCountMakesTheContentEmpty) {
  // Content 2 has a bad index file: it counts as empty and content 1's folder is used.
  MakeContent(root.path, 0, 3);
  WriteIndex("frame_data0002.dat", {"../S001/clip_00000.jpg"}, "-5");
  player.ContentNumber = 1;
  testing::internal::CaptureStderr();
  std::string out = Check();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(player.ContentNumber, 0);
  EXPECT_EQ(player.MaxCount, 3);
  EXPECT_NE(err.find("negative"), std::string::npos);

  // A file without a count, or cut short of its block: also empty, said on stderr.
  WriteIndex("frame_data0002.dat", {"../S001/clip_00000.jpg"}, "");
  player.ContentNumber = 1;
  testing::internal::CaptureStderr();
  Check();
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(player.ContentNumber, 0);
  EXPECT_NE(err.find("frame_data0002.dat has no frame count after its record block; the content is treated as empty"),
            std::string::npos)
      << err;
  std::ofstream(work / "frame_data0001.dat", std::ios::binary) << "short";
  player.ContentNumber = 0;
  EXPECT_EXIT(Check(), testing::ExitedWithCode(0), "frame_data0001.dat has fewer bytes than its record block");
}

TEST_F(ContentFixture, ScanStopsAt22000Frames) {
  fs::create_directories(root.path / "S001");
  for (int i = 0; i < kMaxFrames + 3; ++i) {
    char name[40];
    std::snprintf(name, sizeof name, "S001/clip_%05d.jpg", i);
    std::ofstream(root.path / name).put('x');
  }
  std::string out = Check();
  EXPECT_EQ(player.MaxCount, kMaxFrames);
  EXPECT_STREQ(FrameData[kMaxFrames - 1].path, "../S001/clip_21999.jpg");
  EXPECT_NE(out.find("\n [  21999 ]  MaxCount = [  22000 ]  ( ../S001/clip_21999.jpg )\n"), std::string::npos);
}

TEST_F(ContentFixture, NoImageAnywhereNamesTheFoldersAndEndsAfterAKey) {
  EXPECT_EXIT(
      {
        testing::internal::CaptureStdout();
        player.ContentNumber = 2;
        CheckContent();
      },
      testing::ExitedWithCode(0), "no frames .* in \\.\\./S003, \\.\\./S002, \\.\\./S001, seen from");
}
