// Knowledge-base files: layouts, load rules, round trip, safe saving.
#include <gtest/gtest.h>

#include <filesystem>

#include "kb/kb_fixture.h"
#include "kb/kb.h"
#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"

namespace fs = std::filesystem;
using namespace orv;
using namespace orvtest;

namespace {

// A knowledge base with something non-default in every table.
void FillKnowledgeBase() {
  learn.DThreshold = 33, learn.OK_HIGH = 450, learn.OCThreshold = 0.25, learn.pos_num = 3;
  learn.GRATE = 30, learn.GRATE_SUM = 12.5, learn.NEROI = 20, learn.SKIP = 2.0, learn.RSKIP = 3.0;
  learn.RF_COEFFICIENT = 0.02, learn.LearningPasses = 2, learn.JudgeRepeat = 6, learn.UseRoiMask = 1;
  std::strcpy(learn.GestureInfo[1].name, "wave");
  learn.GestureInfo[1].length = 57;
  SampleTable[3][3][7][11] = SampleRecord{1, 0, 0.75, 12.0};
  learn.RoiActive[5] = 0;
  learn.SampleHigh[4][3] = 12;
  learn.RateLimit[2] = 7.5, learn.OK_VAR[1] = 123.0, learn.MatchLimit[0] = 0.95;
  learn.RoiWeightSum[6][31] = 4.25, learn.JudgeSum[7][2] = 1.5, learn.JudgeCount[7][2] = 9;
  learn.SampleCount[3] = 17, learn.RoiMask[9] = 0;
  StorePattern(0, 0, 0, 1.0);
  StorePattern(4, 3, 11, 2.0);
  StorePattern(31, 7, 199, 3.0);
}

void WriteRecords(const std::string& name, std::initializer_list<PatternRecord> records) {
  std::string buf;
  for (const PatternRecord& r : records) Put(buf, &r, sizeof r);
  WriteFile(name, buf);
}

}  // namespace

TEST(KBFiles, WriteGivesTheFixedLayoutsUnderTheContentNumber) {
  InTempDir cwd;
  player.ContentNumber = 2;
  StorePattern(1, 2, 3, 5.0);
  testing::internal::CaptureStdout();
  WriteKB(player.ContentNumber);
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(ReadFile(KBName(1, 3)),
            "40 500 -1.000000 40 0 60 0.000000 0 32 1.000000 0.000000 1.000000 0 0.010000 0 "
            "0 0.100000 8 8.000000 5 0 ");
  EXPECT_EQ(fs::file_size(KBName(2, 3)), 9831776u);
  EXPECT_EQ(fs::file_size(KBName(3, 3)), 2752u);
  EXPECT_EQ(fs::file_size(KBName(4, 3)), 1040u);
  EXPECT_FALSE(fs::exists(KBName(1, 1)));
  EXPECT_EQ(CountOf(out, "\n"), 1 + 10) << out;  // one echo line, the seven banner strings
  EXPECT_NE(out.find("RSKIP=1.000000 GRATE_COUNT2=0 RF_COEFFICIENT=0.010000 IdealGRATE=0 \n"), std::string::npos);
  EXPECT_NE(out.find("WriteKB:"), std::string::npos);

  // The record header is the slot's.
  const std::string f4 = ReadFile(KBName(4, 3));
  PatternRecord r;
  std::memcpy(&r, f4.data(), sizeof r);
  EXPECT_EQ(r.MODE, 1);
  EXPECT_EQ(r.GESTURE, 2);
  EXPECT_EQ(r.SAMPLE, 3);
  EXPECT_EQ(r.Re[63], 68.0);
  for (const auto& e : fs::directory_iterator(".")) EXPECT_EQ(e.path().extension(), ".dat");
}

TEST(KBFiles, RoundTripIsByteIdentical) {
  InTempDir cwd;
  FillKnowledgeBase();
  testing::internal::CaptureStdout();
  WriteKB(player.ContentNumber);
  std::string first[4];
  for (int i = 0; i < 4; ++i) first[i] = ReadFile(KBName(i + 1));

  learn = LearningState{};
  engine = EngineSetup{};
  learning = LearningWork{};
  std::memset(&SampleTable, 0, sizeof SampleTable);
  ReleaseKnowledgeBase();
  EXPECT_EQ(ReadKB(player.ContentNumber), 0);
  EXPECT_EQ(learn.OK_HIGH, 450);
  EXPECT_STREQ(learn.GestureInfo[1].name, "wave");
  EXPECT_EQ(SampleTable[3][3][7][11].similarity, 0.75);
  EXPECT_EQ(learn.JudgeCount[7][2], 9);
  EXPECT_EQ(PresentCount(), 3);
  EXPECT_EQ(Patterns->Ps[31][7][199][1], 2.0);
  WriteKB(player.ContentNumber);
  testing::internal::GetCapturedStdout();
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(ReadFile(KBName(i + 1)) == first[i]) << "file " << i + 1;
}

TEST(KBFiles, AMissingFileLoadsNothingAndSaysNothing) {
  InTempDir cwd;
  testing::internal::CaptureStdout();
  WriteKB(player.ContentNumber);
  testing::internal::GetCapturedStdout();
  fs::remove(KBName(4));
  StorePattern(2, 2, 2, 9.0);
  learn.DThreshold = 77;

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadKB(player.ContentNumber), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(learn.DThreshold, 77);
  EXPECT_EQ(PresentCount(), 1);
  EXPECT_EQ(Patterns->Re[2][2][2][0], 9.0);
}

TEST(KBFiles, PatternFileRecordsAndTheirLimits) {
  InTempDir cwd;
  testing::internal::CaptureStdout();
  WriteKB(player.ContentNumber);
  testing::internal::GetCapturedStdout();

  // Empty file 4: earlier records are released, none loaded.
  StorePattern(0, 1, 2, 1.0);
  WriteFile(KBName(4), "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadKB(player.ContentNumber), 0);
  EXPECT_EQ(PresentCount(), 0);

  // Two records for one slot: the later wins. A trailing part record is ignored.
  WriteRecords(KBName(4), {MakeRecord(5, 6, 7, 1.0), MakeRecord(5, 6, 7, 2.0)});
  { std::string tail = ReadFile(KBName(4)) + std::string(100, 'x'); WriteFile(KBName(4), tail); }
  EXPECT_EQ(ReadKB(player.ContentNumber), 0);
  EXPECT_EQ(PresentCount(), 1);
  EXPECT_EQ(Patterns->Re[5][6][7][0], 2.0);

  // GESTURE 8 stops the load at its 0-based position; earlier records stay.
  testing::internal::CaptureStderr();
  WriteRecords(KBName(4), {MakeRecord(0, 0, 0, 1.0), MakeRecord(0, 0, 1, 1.0), MakeRecord(0, 0, 2, 1.0),
                           MakeRecord(3, 8, 4, 1.0), MakeRecord(0, 0, 3, 1.0)});
  EXPECT_EQ(ReadKB(player.ContentNumber), 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(PresentCount(), 3);
  EXPECT_NE(err.find("Illegal Index Number Detected in ReadKB(). Data Number = 3\n"
                     "index1=3, index2=8,  index3=4\n"),
            std::string::npos)
      << err;

  // Values above 1e9: one line per value, the record stays.
  PatternRecord big = MakeRecord(1, 1, 1, 1.0);
  big.Re[3] = 2e9, big.Ps[0] = 5e9, big.Ps[1] = 6e9;
  WriteRecords(KBName(4), {big});
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadKB(player.ContentNumber), 0);
  const std::string abnormal = testing::internal::GetCapturedStderr();
  EXPECT_EQ(CountOf(abnormal, "Abnormal Data Exist in Re(1 1 1)\n"), 1);
  EXPECT_EQ(CountOf(abnormal, "Abnormal Data Exist in Ps(1 1 1)\n"), 2);
  EXPECT_EQ(PatternPresent[1][1][1], 1);
  testing::internal::GetCapturedStdout();
}

TEST(KBFiles, AtMost51200RecordsAreRead) {
  InTempDir cwd;
  testing::internal::CaptureStdout();
  WriteKB(player.ContentNumber);
  std::string buf;
  buf.reserve(51201u * 1040u);
  for (int m = 0; m < kViews; ++m)
    for (int g = 0; g < kGestures; ++g)
      for (int s = 0; s < kSeqFrames; ++s) {
        const PatternRecord r = MakeRecord(m, g, s, m + g + s);
        Put(buf, &r, sizeof r);
      }
  const PatternRecord extra = MakeRecord(0, 8, 0, 0.0);  // would be refused if it were read
  Put(buf, &extra, sizeof extra);
  WriteFile(KBName(4), buf);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadKB(player.ContentNumber), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(PresentCount(), kPatternRecords);
  EXPECT_EQ(Patterns->Re[31][7][199][0], 31 + 7 + 199);
}

TEST(KBFiles, ParameterFileParsingAndEcho) {
  InTempDir cwd;
  testing::internal::CaptureStdout();
  WriteKB(player.ContentNumber);
  testing::internal::GetCapturedStdout();

  // Any white space between values; the three echo lines form one console line.
  WriteFile(KBName(1), "41\n501 -0.5 42 2 61 1.5 3 30 2.0 0 1.0 0 0.5 7\n\n 1 0.2 9 8.0 4 1 ");
  learn.CamBeep = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadKB(player.ContentNumber), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("DThreshold=41 OK_HIGH=501 OCThreshold=-0.500000 MThreshold=42 pos_num=2 "
                      "GRATE=61 GRATE_SUM=1.500000 GRATE_COUNT=3 NEROI=30 SKIP=2.000000 GRATE_SUM2=0.000000 "
                      "RSKIP=1.000000 GRATE_COUNT2=0 RF_COEFFICIENT=0.500000 IdealGRATE=7 \n\a\nReadKB:\n",
                      0),
            0u)
      << out;
  EXPECT_EQ(learn.LearningPasses, 1);
  EXPECT_EQ(learn.JudgeRepeat, 9);
  EXPECT_EQ(learn.UseRoiMask, 1);

  // The first value that does not parse ends the reading; it and the rest keep their values.
  learn = LearningState{};
  engine = EngineSetup{};
  learning = LearningWork{};
  WriteFile(KBName(1), "7 600 x 9 1");
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadKB(player.ContentNumber), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(learn.DThreshold, 7);
  EXPECT_EQ(learn.OK_HIGH, 600);
  EXPECT_EQ(learn.OCThreshold, -1.0);
  EXPECT_EQ(learn.MThreshold, 40);
  EXPECT_EQ(learn.pos_num, 0);

  // A file of junk is not read into memory beyond its first MiB: values behind it are not reached.
  learn = LearningState{};
  engine = EngineSetup{};
  learning = LearningWork{};
  WriteFile(KBName(1), std::string(1 << 20, ' ') + "7 600");
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadKB(player.ContentNumber), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(learn.DThreshold, 40);
}

TEST(KBFiles, ShortBinaryFilesLeaveTheRestOfTheTables) {
  InTempDir cwd;
  testing::internal::CaptureStdout();
  WriteKB(player.ContentNumber);
  learn.RoiActive[0] = 0;  // in file 2, after the cut
  std::string f2 = ReadFile(KBName(2)).substr(0, 28);
  std::memcpy(f2.data(), "Q\0", 2);
  WriteFile(KBName(2), f2);
  WriteFile(KBName(3), std::string(8, '\0'));  // RateLimit[0] = 0 only
  ASSERT_EQ(ReadKB(player.ContentNumber), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ(learn.GestureInfo[0].name, "Q");
  EXPECT_EQ(learn.RoiActive[0], 0);
  EXPECT_EQ(learn.RateLimit[0], 0.0);
  EXPECT_EQ(learn.RateLimit[1], 1e10);
}

TEST(KBFiles, AFailedSaveKeepsThePreviousKnowledgeBase) {
  InTempDir cwd;
  testing::internal::CaptureStdout();
  WriteKB(player.ContentNumber);
  testing::internal::GetCapturedStdout();
  std::string before[4];
  for (int i = 0; i < 4; ++i) before[i] = ReadFile(KBName(i + 1));

  // The temporary of file 4 cannot be created: nothing may change.
  fs::create_directory(KBName(4) + ".tmp");
  learn.DThreshold = 99;
  StorePattern(0, 0, 0, 1.0);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  WriteKB(player.ContentNumber);
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(err.find("Couldn't Open File in WriteKB()-[ HOLVA_data-1-4.dat ].\n"), std::string::npos);
  EXPECT_EQ(out.find("WriteKB:"), std::string::npos);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(ReadFile(KBName(i + 1)) == before[i]) << "file " << i + 1;
  for (int i = 1; i <= 3; ++i) EXPECT_FALSE(fs::exists(KBName(i) + ".tmp"));
}
