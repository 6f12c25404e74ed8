// Three real copies of the player share their motion through one memory section.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include <opencv2/imgcodecs.hpp>

#include "../support/process.h"

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

  // Waits until the console shows `text` (the file grows while the copy runs).
  bool WaitFor(const std::string& text, double seconds) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      if (ReadFile(out).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
};

}  // namespace

TEST(MultiProcess, CopyWithoutCameraFollowsTheSumOfTheOthers) {
  const std::string shm = "/orvante-test-multi-" + std::to_string(::getpid());
  ::shm_unlink(shm.c_str());
  const mode_t oldMask = ::umask(0);  // the section must still come out private

  Copy follower(5, -1, -1, "1000000000 ESC\n");  // runs until stopped
  Copy camA(0, 20, 30, "1 q\n300 ESC\n");         // 10 per sample: 48000
  Copy camB(3, 100, 103, "1 q\n300 ESC\n");       // 3 per sample: 14400

  // The follower starts first: a starting copy clears the published values.
  follower.Start(shm, false);
  ASSERT_TRUE(follower.WaitFor("[S1] [", 30)) << ReadFile(follower.err);
  camA.Start(shm, true);
  camB.Start(shm, true);
  ::umask(oldMask);
  EXPECT_EQ(WaitProcess(camA.pid, 120), 0) << ReadFile(camA.err);
  EXPECT_EQ(WaitProcess(camB.pid, 120), 0) << ReadFile(camB.err);
  EXPECT_NE(ReadFile(camA.out).find("[DifferenceSum=  48000 (SI.DiffSum="), std::string::npos);
  EXPECT_NE(ReadFile(camB.out).find("[DifferenceSum=  14400 (SI.DiffSum="), std::string::npos);

  // Published words stay after a copy ends, so the follower settles on their sum.
  const bool followed = follower.WaitFor("[DifferenceSum=  62400 (SI.DiffSum=  62400 )]", 60);
  ::kill(follower.pid, SIGKILL);
  WaitProcess(follower.pid, 10);
  EXPECT_TRUE(followed) << ReadFile(follower.out).substr(0, 4000);
  EXPECT_EQ(CountOf(ReadFile(follower.out), "NOW, TURNING ON THE CAMERA"), 0);

  const int fd = ::shm_open(shm.c_str(), O_RDONLY, 0);
  ASSERT_GE(fd, 0);
  struct stat st {};
  ASSERT_EQ(::fstat(fd, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 1024);
  const auto* w = static_cast<const int32_t*>(::mmap(nullptr, 1024, PROT_READ, MAP_SHARED, fd, 0));
  ASSERT_NE(w, MAP_FAILED);
  EXPECT_EQ(w[1], 48000);
  EXPECT_EQ(w[4], 14400);
  EXPECT_EQ(w[6], 0);  // the follower never writes
  EXPECT_EQ(w[0], 62400);
  ::munmap(const_cast<int32_t*>(w), 1024);
  ::close(fd);
  ::shm_unlink(shm.c_str());
}
