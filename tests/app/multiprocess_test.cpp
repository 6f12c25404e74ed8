// Three real copies of the player share their motion through one memory section.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include <opencv2/imgcodecs.hpp>

#include "../support/process.h"
#include "player/motion.h"

namespace fs = std::filesystem;
using namespace orvtest;

namespace {

// Parameter file with MonitorMode 1 (item 13): one status line per cycle.
std::string EnvText() {
  std::string t = "4 0 3 0.0 9600 1 1.0 3 1 4 0 120 1 2 1 1 0\n";
  for (int i = 0; i < 1280; ++i) t += "0 ";
  return t + "\n";
}

// A camera-less copy or one whose recording alternates between two flat grey levels, so
// that every capture after the first differs by |a - b| at each of the 4800 samples.
struct Copy {
  TempDir root;
  fs::path work, out, err;
  pid_t pid = -1;

  Copy(int camChan, int a, int b, const std::string& script) {
    work = root.path / "work";
    out = root.path / "out.txt";
    err = root.path / "err.txt";
    fs::create_directories(work);
    MakeContent(root.path, 0, 3);
    WriteFile(work / "zav_env.dat", EnvText());
    WriteFile(work / "SetCamera3.txt", "0 1 " + std::to_string(camChan) + " 1 0\n");
    WriteFile(root.path / "script.txt", script);
    if (a >= 0) {
      for (int i = 0; i < 4; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "cam_%04d.png", i);
        cv::imwrite((root.path / name).string(), cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(i % 2 ? b : a)));
      }
    }
  }

  void Start(const std::string& shm, bool camera) {
    ProcOptions opt;
    opt.cwd = work;
    opt.env = {{"ORVANTE_HEADLESS", "1"},
               {"ORVANTE_SCRIPT", (root.path / "script.txt").string()},
               {"ORVANTE_SHM_NAME", shm}};
    if (camera)
      opt.env["ORVANTE_CAMERA"] = (root.path / "cam_%04d.png").string();
    else
      opt.unsetEnv = {"ORVANTE_CAMERA"};
    pid = StartProcess({ORVANTE_BINARY}, opt, out, err);
  }

  // Waits until the console shows `text` at or after byte `from` (the file grows while the
  // copy runs); returns where it was found, or npos.
  size_t WaitFor(const std::string& text, double seconds, size_t from = 0) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      const std::string o = ReadFile(out);
      const size_t at = o.size() > from ? o.find(text, from) : std::string::npos;
      if (at != std::string::npos) return at;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::string::npos;
  }

  ~Copy() {
    if (pid > 0) StopProcess(pid);
  }
};

// The test's own view of the section, for checks beside what the copies print.
struct SectionView {
  const int32_t* w = nullptr;
  explicit SectionView(const std::string& shm) {
    const int fd = ::shm_open(shm.c_str(), O_RDONLY, 0);
    if (fd < 0) return;
    void* p = ::mmap(nullptr, 1024, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (p != MAP_FAILED) w = static_cast<const int32_t*>(p);
  }
  ~SectionView() {
    if (w) ::munmap(const_cast<int32_t*>(w), 1024);
  }
};

constexpr size_t npos = std::string::npos;

}  // namespace

TEST(MultiProcess, CopyWithoutCameraFollowsTheSumOfTheOthers) {
  const std::string shm = "/orvante-test-multi-" + std::to_string(::getpid());
  orv::RemoveSharedSections(shm);
  const mode_t oldMask = ::umask(0);  // the section must still come out private

  Copy follower(5, -1, -1, "1000000000 ESC\n");  // all three run until stopped
  Copy camA(0, 20, 30, "1 q\n1000000000 ESC\n");  // 10 per sample: 48000
  Copy camB(3, 100, 103, "1 q\n1000000000 ESC\n");  // 3 per sample: 14400

  // The follower starts first: a starting copy clears the published values.
  follower.Start(shm, false);
  ASSERT_NE(follower.WaitFor("[S1] [", 30), npos) << ReadFile(follower.err);
  camA.Start(shm, true);
  camB.Start(shm, true);
  ::umask(oldMask);
  size_t at = follower.WaitFor("[DifferenceSum=  62400 (SI.DiffSum=  62400 )]", 60);
  EXPECT_NE(at, npos) << ReadFile(follower.out).substr(0, 4000);
  EXPECT_NE(camA.WaitFor("[DifferenceSum=  48000 (SI.DiffSum=", 10), npos);
  EXPECT_NE(camB.WaitFor("[DifferenceSum=  14400 (SI.DiffSum=", 10), npos);

  SectionView v(shm);
  ASSERT_NE(v.w, nullptr);
  struct stat st {};
  const int fd = ::shm_open(shm.c_str(), O_RDONLY, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fstat(fd, &st), 0);
  ::close(fd);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 1024);
  EXPECT_EQ(v.w[6], 0);  // the follower never writes

  // A copy killed outright (no handler of its own runs) stops counting within a second: the
  // others find its recorded writer gone. The other camera's word and sum stay right.
  const size_t fromB = ReadFile(camB.out).size();
  if (at != npos) at = ReadFile(follower.out).size();
  ::kill(camA.pid, SIGKILL);
  if (at != npos) at = follower.WaitFor("[DifferenceSum=  14400 (SI.DiffSum=  14400 )]", 1, at);
  EXPECT_NE(at, npos);
  EXPECT_NE(camB.WaitFor("[DifferenceSum=  14400 (SI.DiffSum=  14400 )]", 1, fromB), npos);
  WaitProcess(camA.pid, 10);
  camA.pid = -1;
  EXPECT_EQ(v.w[1], 0);
  EXPECT_EQ(v.w[4], 14400);
  StopProcess(camB.pid);
  camB.pid = -1;
  EXPECT_EQ(v.w[4], 0);
  EXPECT_EQ(v.w[0], 0);
  if (at != npos) {
    EXPECT_NE(follower.WaitFor("[DifferenceSum=      0 (SI.DiffSum=      0 )]", 30, at), npos);
  }
  StopProcess(follower.pid);
  follower.pid = -1;
  EXPECT_EQ(CountOf(ReadFile(follower.out), "NOW, TURNING ON THE CAMERA"), 0);
  orv::RemoveSharedSections(shm);
}

// Three copies publish side by side for thousands of cycles while a fourth follows them.
// Each publisher sees a fixed motion (4800, 9600, 19200), so every sum anybody can form is a
// multiple of 4800 up to 33600; a torn copy of the section would show as any other value.
TEST(MultiProcess, PublishingCopiesNeverShowAValueNobodyWrote) {
  const std::string shm = "/orvante-test-torn-" + std::to_string(::getpid());
  orv::RemoveSharedSections(shm);
  const char* env = std::getenv("ORVANTE_SHARED_CYCLES");
  const int cycles = env ? std::atoi(env) : 2000;
  const std::string script = "1 q\n" + std::to_string(cycles) + " ESC\n";
  Copy follower(9, -1, -1, "1000000000 ESC\n");
  Copy c1(0, 0, 1, script), c2(1, 0, 2, script), c3(2, 0, 4, script);
  follower.Start(shm, false);
  ASSERT_NE(follower.WaitFor("[S1] [", 30), npos) << ReadFile(follower.err);
  c1.Start(shm, true);
  c2.Start(shm, true);
  c3.Start(shm, true);
  for (Copy* c : {&c1, &c2, &c3}) {
    EXPECT_EQ(WaitProcess(c->pid, 600), 0) << ReadFile(c->err);
    c->pid = -1;
  }
  StopProcess(follower.pid);
  follower.pid = -1;
  orv::RemoveSharedSections(shm);

  // The follower's lines, and each publisher's own sums: all multiples of 4800 within range.
  auto check = [](const std::string& text, const char* field, int* seen) {
    int bad = 0;
    for (size_t p = text.find(field); p != npos; p = text.find(field, p + 1)) {
      const long v = std::strtol(text.c_str() + p + std::strlen(field), nullptr, 10);
      if (v % 4800 != 0 || v < 0 || v > 33600) ++bad;
      seen[v >= 0 && v <= 33600 && v % 4800 == 0 ? v / 4800 : 0] = 1;
    }
    return bad;
  };
  int seen[8] = {};
  const std::string f = ReadFile(follower.out);
  EXPECT_EQ(check(f, "[DifferenceSum=", seen), 0);
  for (Copy* c : {&c1, &c2, &c3}) EXPECT_EQ(check(ReadFile(c->out), "(SI.DiffSum=", seen), 0);
  EXPECT_EQ(seen[7], 1) << "the three never published at the same time";
  EXPECT_GE(CountOf(f, "[DifferenceSum="), 100);
}

// A copy that ends from its pause screen (ESC, ESC) withdraws its value as well.
TEST(MultiProcess, CopyThatEndsWithdrawsItsValue) {
  const std::string shm = "/orvante-test-end-" + std::to_string(::getpid());
  orv::RemoveSharedSections(shm);
  Copy cam(2, 20, 30, "1 q\n40 ESC\n");
  cam.Start(shm, true);
  EXPECT_EQ(WaitProcess(cam.pid, 120), 0) << ReadFile(cam.err);
  cam.pid = -1;
  EXPECT_NE(cam.WaitFor("[DifferenceSum=  48000 (SI.DiffSum=  48000 )]", 1), npos);
  SectionView v(shm);
  ASSERT_NE(v.w, nullptr);
  EXPECT_EQ(v.w[3], 0);
  EXPECT_EQ(v.w[0], 0);
  orv::RemoveSharedSections(shm);
}
