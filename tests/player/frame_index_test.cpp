// Frame index files: the writer tool, reading back, refusals, and the player using the result.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "player/player_state.h"
#include "player/frame_index.h"
#include "support/process.h"

namespace fs = std::filesystem;
using namespace orv;
using namespace orvtest;

namespace {

ProcResult Index(const std::vector<std::string>& args, const fs::path& cwd) {
  std::vector<std::string> argv{ORVANTE_INDEX_TOOL};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcOptions opt;
  opt.cwd = cwd;
  return RunProcess(argv, opt);
}

FrameRecord RecordAt(const std::string& bytes, size_t i) {
  FrameRecord r;
  std::memcpy(&r, bytes.data() + i * sizeof r, sizeof r);
  return r;
}

std::string Lines(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "../S001/clip_" + std::to_string(i) + ".jpg\n";
  return s;
}

}  // namespace

TEST(FrameIndex, ListWrittenByTheToolReadsBackIdenticallyAndHasTheFileLayout) {
  TempDir d;
  const std::string list =
      "../S001/clip_00000.jpg\t../links/a.jpg\t../att/a.jpg\n"
      "../S001/clip_00001.jpg\n"
      "../S001/clip_00002.jpg\t\t../att/only.jpg\n"
      "../S001/clip_00003.jpg\t../links/only.jpg\n" +
      std::string(249, 'p') + "\t" + std::string(249, 'h') + "\t" + std::string(249, 'f') + "\n";
  // CRs and blank lines are what an editor leaves behind; they are not frames.
  std::string edited = list;
  edited.insert(edited.find('\n'), "\r");
  edited += "\n  \n";
  WriteFile(d.path / "list.txt", edited);

  ProcResult w = Index({"-o", "idx.dat", "list.txt"}, d.path);
  ASSERT_EQ(w.exitCode, 0) << w.err;
  EXPECT_EQ(w.out, "idx.dat: 5 frames\n");

  const std::string bytes = ReadFile(d.path / "idx.dat");
  ASSERT_EQ(bytes.size(), 16632000u + 1u);
  EXPECT_EQ(bytes.substr(16632000), "5");
  const FrameRecord r0 = RecordAt(bytes, 0), r2 = RecordAt(bytes, 2), r5 = RecordAt(bytes, 5);
  EXPECT_EQ(r0.loaded, 0);
  EXPECT_STREQ(r0.path, "../S001/clip_00000.jpg");
  EXPECT_STREQ(r0.http, "../links/a.jpg");
  EXPECT_STREQ(r0.file, "../att/a.jpg");
  EXPECT_STREQ(r2.http, "");
  EXPECT_STREQ(r2.file, "../att/only.jpg");
  EXPECT_EQ(bytes.find_first_not_of('\0', 5 * sizeof(FrameRecord)), 16632000u);  // unused records all zero
  EXPECT_EQ(r5.path[0], '\0');

  ProcResult r = Index({"--read", "idx.dat"}, d.path);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, list);

  // The printed list is itself a valid input: a second round gives the same bytes.
  WriteFile(d.path / "again.txt", r.out);
  ASSERT_EQ(Index({"-o", "again.dat", "again.txt"}, d.path).exitCode, 0);
  EXPECT_EQ(ReadFile(d.path / "again.dat"), bytes);
}

TEST(FrameIndex, OverLongFieldsAndBadLinesAreRefusedNamingTheLine) {
  struct Case {
    std::string list;
    std::string message;
  } cases[] = {
      {"a.jpg\n" + std::string(250, 'p') + "\n", "line 2: image path is 250 bytes; at most 249 fit its field"},
      {"a.jpg\n\nb.jpg\t" + std::string(300, 'h') + "\n", "line 3: link image path is 300 bytes"},
      {"a.jpg\tl.jpg\t" + std::string(250, 'f') + "\n", "line 1: attached image path is 250 bytes"},
      {"a.jpg\tl.jpg\tf.jpg\tx.jpg\n", "line 1: 4 tab-separated fields"},
      {"a.jpg\n\tl.jpg\n", "line 2: no image path"},
      {Lines(22001), "line 22001: frame 22001 is one too many"},
  };
  for (const Case& c : cases) {
    std::vector<FrameIndexEntry> out;
    std::string err;
    EXPECT_FALSE(ParseFrameList(c.list, &out, &err));
    EXPECT_EQ(err.rfind(c.message, 0), 0u) << err;
  }
  std::vector<FrameIndexEntry> full;
  std::string err;
  ASSERT_TRUE(ParseFrameList(Lines(22000), &full, &err)) << err;
  EXPECT_EQ(full.size(), 22000u);
  // Entries handed over directly get the same checks.
  full.push_back({"one_more.jpg", "", ""});
  EXPECT_FALSE(WriteFrameIndex("never.dat", full, &err));
  EXPECT_FALSE(WriteFrameIndex("never.dat", {{std::string(250, 'x'), "", ""}}, &err));
  EXPECT_FALSE(fs::exists("never.dat"));

  // Through the tool: a refusal names the list and the line and leaves an existing index alone.
  TempDir d;
  WriteFile(d.path / "frame_data0001.dat", "old");
  WriteFile(d.path / "long.txt", "a.jpg\n" + std::string(251, 'p') + "\n");
  WriteFile(d.path / "many.txt", Lines(22001));
  for (const char* list : {"long.txt", "many.txt"}) {
    ProcResult r = Index({list}, d.path);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.rfind(std::string("orvante-index: ") + list + ": line ", 0), 0u) << r.err;
    EXPECT_EQ(CountOf(r.err, "\n"), 1) << r.err;
  }
  EXPECT_EQ(ReadFile(d.path / "frame_data0001.dat"), "old");
  EXPECT_EQ(Index({}, d.path).exitCode, 1);
  EXPECT_EQ(Index({"--content", "0", "long.txt"}, d.path).exitCode, 1);
  // The last content number is taken (the list is then refused), one past it is not.
  EXPECT_EQ(Index({"--content", "999", "long.txt"}, d.path).exitCode, 2);
  EXPECT_EQ(Index({"--content", "1000", "long.txt"}, d.path).exitCode, 1);
}

TEST(FrameIndex, ContentFolderIsIndexedInClipOrderWithGapsSkipped) {
  TempDir d;
  fs::create_directories(d.path / "S002");
  for (int n : {0, 1, 7, 12}) WriteFile(d.path / ("S002/clip_" + std::string(5 - std::to_string(n).size(), '0') + std::to_string(n) + ".jpg"), "x");
  WriteFile(d.path / "S002/notes.jpg", "x");
  WriteFile(d.path / "S002/clip_3.jpg", "x");
  fs::create_directories(d.path / "work");
  ProcResult w = Index({"--content", "2", "../S002/"}, d.path / "work");
  ASSERT_EQ(w.exitCode, 0) << w.err;
  ProcResult r = Index({"--read", "frame_data0002.dat"}, d.path / "work");
  EXPECT_EQ(r.out,
            "../S002/clip_00000.jpg\n../S002/clip_00001.jpg\n../S002/clip_00007.jpg\n../S002/clip_00012.jpg\n");

  fs::create_directories(d.path / "empty");
  ProcResult e = Index({"-o", "x.dat", "empty"}, d.path);
  EXPECT_EQ(e.exitCode, 2);
  EXPECT_NE(e.err.find("no clip_NNNNN.jpg"), std::string::npos);
  EXPECT_FALSE(fs::exists(d.path / "x.dat"));
}

TEST(FrameIndex, DamagedIndexFilesAreRefusedOrCutWithAWarning) {
  TempDir d;
  const std::string block(16632000, '\0');
  const std::string f = (d.path / "f.dat").string();
  std::vector<FrameIndexEntry> out;
  std::string err, warn;
  struct Case {
    std::string bytes;
    std::string message;
  } cases[] = {
      {block.substr(0, 1000), "shorter than the 16632000-byte record block"},
      {block, "has no frame count"},
      {block + "-1", "frame count -1 is outside 0..22000"},
      {block + "22001", "frame count 22001 is outside 0..22000"},
  };
  for (const Case& c : cases) {
    WriteFile(f, c.bytes);
    EXPECT_FALSE(ReadFrameIndexFile(f, &out, &err));
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
  }
  EXPECT_FALSE(ReadFrameIndexFile((d.path / "missing.dat").string(), &out, &err));

  // A record whose link has no end mark (a foreign writer): cut at 249 bytes, said once.
  std::string bytes = block + " 1\n";
  std::memcpy(bytes.data() + 4, "a.jpg", 5);
  std::memset(bytes.data() + 254, 'h', 250);
  WriteFile(f, bytes);
  ASSERT_TRUE(ReadFrameIndexFile(f, &out, &err, &warn)) << err;
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].path, "a.jpg");
  EXPECT_EQ(out[0].http, std::string(249, 'h'));
  EXPECT_NE(warn.find("1 strings without an end mark"), std::string::npos) << warn;
}

TEST(FrameIndex, PlayerLoadsAWrittenIndexAndShowsLinkAndAttachedImages) {
  TempDir root;
  const fs::path work = root.path / "work";
  fs::create_directories(work);
  MakeContent(root.path, 0, 3);
  fs::copy_file(root.path / "S001/clip_00002.jpg", root.path / "link.jpg");
  fs::copy_file(root.path / "S001/clip_00001.jpg", root.path / "attached.jpg");
  // The index reverses the folder's order: the player must follow the index, not the folder.
  WriteFile(work / "list.txt",
            "../S001/clip_00002.jpg\t../link.jpg\t../attached.jpg\n"
            "../S001/clip_00001.jpg\n"
            "../S001/clip_00000.jpg\t\t../attached.jpg\n");
  ASSERT_EQ(Index({"--content", "1", "list.txt"}, work).exitCode, 0);

  WriteFile(work / "script.txt", "2 x\n3 x\n4 ESC\n5 ESC\n");
  ProcOptions opt;
  opt.cwd = work;
  opt.env = {{"ORVANTE_HEADLESS", "1"}, {"ORVANTE_SCRIPT", (work / "script.txt").string()}};
  ProcResult r = RunProcess({ORVANTE_BINARY}, opt);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("FINISHED READING FRAME DATA :  frame_data0001.dat\n  (Number of files = [ 3 ],  "
                       "Name of the top file = [ ../S001/clip_00002.jpg ])"),
            std::string::npos)
      << r.out;
  EXPECT_GE(CountOf(r.out, "DISP: FrameData[     0 ].http[2] = [../link.jpg]\n"), 1);
  EXPECT_GE(CountOf(r.out, "DISP: FrameData[     0 ].file[3] = [../attached.jpg]\n"), 1);
  EXPECT_GE(CountOf(r.out, "DISP: FrameData[     2 ].file[3] = [../attached.jpg]\n"), 1);
  EXPECT_EQ(CountOf(r.out, "FrameData[     1 ].http[2]"), 0);
  EXPECT_EQ(CountOf(r.out, "FrameData[     2 ].http[2]"), 0);
}
