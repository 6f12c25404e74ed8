// Every file the player writes survives a write that fails halfway (a full disk, here a file-size
// limit): the previous file stays byte for byte, no temporary file is left, and a copy never
// replaces a file that is already there.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>

#include "player_fixture.h"
#include "common/platform.h"
#include "control/control.h"
#include "kb/learning_state.h"
#include "player/frame_index.h"
#include "kb/kb.h"
#include "player/player_state.h"

using namespace orv;
namespace fs = std::filesystem;

namespace {

// Every regular file under root with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = orvtest::ReadFile(e.path());
  return files;
}

// While alive, no file of this process may grow beyond `bytes`: a write past it fails with EFBIG
// (SIGXFSZ is ignored), as on a disk that fills up in the middle of the file.
struct FileSizeLimit {
  rlimit old{};
  void (*oldHandler)(int);
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old);
    oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit r = old;
    r.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &r);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
  }
};

// Standard output and error of a stretch of code, through a pipe: a capture file would itself
// run into the file-size limit.
struct PipeCapture {
  int fds[2] = {-1, -1};
  int saved[2] = {-1, -1};
  PipeCapture() {
    std::fflush(stdout), std::fflush(stderr);
    EXPECT_EQ(::pipe(fds), 0);
    ::fcntl(fds[0], F_SETPIPE_SZ, 1 << 20);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    saved[0] = ::dup(1), saved[1] = ::dup(2);
    ::dup2(fds[1], 1), ::dup2(fds[1], 2);
  }
  std::string Finish() {
    std::fflush(stdout), std::fflush(stderr);
    ::dup2(saved[0], 1), ::dup2(saved[1], 2);
    ::close(saved[0]), ::close(saved[1]), ::close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    return text;
  }
};

class NothingLost : public orvtest::PlayerTest {};

TEST_F(NothingLost, WritesThatFailHalfwayKeepTheOldFileAndLeaveNoTemporary) {
  UseContent(4, 320, 240);
  struct Case {
    const char* name;
    std::function<void()> before;  // writes the good file(s) that must survive
    rlim_t limit;                  // bytes: below the size of what is written
    std::function<void()> write;   // the interrupted write
    const char* message;           // how the failure is reported
  };
  const std::vector<FrameIndexEntry> frames = {{"../S001/clip_00000.jpg", "", ""}};
  std::string err;
  const Case cases[] = {
      {"threshold file (v/V keys)", [] { orvtest::WriteFile("ZAV_THRESHOLD.dat", "11500\n"); }, 3,
       [] { DispatchKey('V'); }, "[ NG ] Write Failed : [ ZAV_THRESHOLD.dat ]"},
      {"knowledge base (w key)",
       [] {
         learn.DThreshold = 41;
         PipeCapture quiet;
         WriteKB(player.ContentNumber);
         quiet.Finish();
       },
       1 << 20,  // file 1 fits, file 2 (9.8 MB) does not
       [] {
         learn.DThreshold = 42;
         WriteKB(player.ContentNumber);
       },
       "the knowledge base was not saved; the previous files are kept"},
      {"frame index file (orvante-index)",
       [&] { ASSERT_TRUE(WriteFrameIndex("frame_data0001.dat", frames, nullptr)); }, 1 << 20,
       [&] {
         if (!WriteFrameIndex("frame_data0001.dat", {frames[0], frames[0]}, &err)) std::fputs(err.c_str(), stderr);
       },
       "cannot write frame_data0001.dat"},
      {"saved frame (t key; batch copies use the same copy)", [] {}, 100, [] { DispatchKey('t'); },
       "ERROR: copy failed: cannot write ../clip_00000.jpg"},
      {"parameter file (orvante-env)",
       [] {
         std::string t = "4 1 50 12.5 7000 1 2.5 3 1 2 5 300 1 1 0 3 7\n";
         for (int i = 0; i < 1280; ++i) t += "0 ";
         orvtest::WriteFile("zav_env.dat", t + "\n");
       },
       1500,  // the tool's own log fits, the 2.6 KB file does not
       [] {
         orvtest::ProcOptions opt;
         const orvtest::ProcResult r = orvtest::RunProcess({ORVANTE_ENV_TOOL, "zav_env.dat", "MonitorMode=0"}, opt);
         std::fprintf(stderr, "exit %d: %s", r.exitCode, r.err.c_str());
       },
       "exit 1: ERROR: cannot write zav_env.dat; it is unchanged."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.before();
    const auto before = Snapshot(dir_.path);
    std::string said;
    {
      PipeCapture capture;
      FileSizeLimit limit(c.limit);
      c.write();
      said = capture.Finish();
    }
    EXPECT_NE(said.find(c.message), std::string::npos) << said;
    const auto after = Snapshot(dir_.path);
    EXPECT_EQ(after.size(), before.size());
    for (const auto& [name, bytes] : after) {
      ASSERT_TRUE(before.count(name)) << "left behind: " << name;
      EXPECT_TRUE(before.at(name) == bytes) << "changed: " << name;
    }
  }

  // A copy never replaces a file that is there.
  const auto before = Snapshot(dir_.path);
  EXPECT_FALSE(CopyFile("../S001/clip_00001.jpg", "../S001/clip_00002.jpg", &err));
  EXPECT_NE(err.find("will not overwrite ../S001/clip_00002.jpg"), std::string::npos) << err;
  EXPECT_TRUE(Snapshot(dir_.path) == before);
}

}  // namespace
