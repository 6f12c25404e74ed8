// orvante-init end to end: a new installation plays with the real player and a recorded camera.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "support/process.h"

namespace fs = std::filesystem;
using namespace orvtest;

namespace {

// Someone walks right across the room, stands, walks back and stands again; a small lamp
// flickers all the time, as sensor noise would, so quiet cycles still measure a little motion.
void WriteWalkerRecording(const fs::path& dir, int frames) {
  fs::create_directories(dir);
  int x = 40;
  for (int i = 0; i < frames; ++i) {
    const int phase = i % 40;
    if (phase < 12) x += 10;
    else if (phase >= 20 && phase < 32) x -= 10;
    cv::Mat f(240, 320, CV_8UC3, cv::Scalar(200, 200, 200));
    cv::rectangle(f, {x, 50}, {x + 50, 200}, cv::Scalar(40, 50, 60), cv::FILLED);
    cv::rectangle(f, {280, 10}, {296, 26}, cv::Scalar::all(i % 2 ? 230 : 210), cv::FILLED);
    char name[32];
    std::snprintf(name, sizeof name, "walk_%04d.png", i);
    ASSERT_TRUE(cv::imwrite((dir / name).string(), f));
  }
}

std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[e.path().string()] = ReadFile(e.path());
  return files;
}

}  // namespace

TEST(InitTool, NewInstallationPlaysWithTheMotionAndASecondRunKeepsEveryFile) {
  TempDir t;
  // Pictures named out of order: they become frames in byte order of their names.
  std::vector<std::string> pictures;
  for (int i = 11; i >= 0; --i) {
    char name[32];
    std::snprintf(name, sizeof name, "pic_%02d.jpg", i);
    cv::imwrite((t.path / name).string(), cv::Mat(48, 64, CV_8UC3, cv::Scalar(20 * i, 0, 0)));
    pictures.push_back((t.path / name).string());
  }
  const fs::path inst = t.path / "inst";
  std::vector<std::string> argv{ORVANTE_INIT_TOOL, inst.string()};
  argv.insert(argv.end(), pictures.begin(), pictures.end());
  ProcOptions opt;
  opt.cwd = t.path;
  ProcResult init = RunProcess(argv, opt);
  ASSERT_EQ(init.exitCode, 0) << init.out << init.err;
  for (const char* f : {"zav_env.dat", "ZAV_THRESHOLD.dat", "SetCamera3.txt", "keyallocation_01.jpg", "to_left.jpg",
                        "to_right.jpg"})
    EXPECT_TRUE(fs::is_regular_file(inst / "work" / f)) << f;
  EXPECT_EQ(ReadFile(inst / "S001/clip_00000.jpg"), ReadFile(t.path / "pic_00.jpg"));
  EXPECT_EQ(ReadFile(inst / "S001/clip_00011.jpg"), ReadFile(t.path / "pic_11.jpg"));
  EXPECT_FALSE(cv::imread((inst / "work/keyallocation_01.jpg").string()).empty());
  EXPECT_NE(init.out.find("Next steps"), std::string::npos);

  // The parameters are kept quiet for an unattended run; the status line is asked for here.
  ProcResult env = RunProcess({ORVANTE_ENV_TOOL, (inst / "work/zav_env.dat").string(), "MonitorMode=1"}, opt);
  ASSERT_EQ(env.exitCode, 0) << env.err;

  WriteWalkerRecording(t.path / "cam", 80);
  WriteFile(t.path / "script.txt", "1 q\n160 ESC\n160 ESC\n");
  ProcOptions run;
  run.cwd = inst / "work";
  run.env = {{"ORVANTE_HEADLESS", "1"},
             {"ORVANTE_SCRIPT", (t.path / "script.txt").string()},
             {"ORVANTE_CAMERA", (t.path / "cam/walk_%04d.png").string()}};
  ProcResult play = RunProcess({ORVANTE_BINARY}, run);
  ASSERT_EQ(play.exitCode, 0) << play.err;
  const std::regex status(R"(\[S1\] \[ *(\d+) / *11\] \[DifferenceSum= *(\d+) .*\[VR_threshold= 11500 \])");
  std::vector<int> frames;
  for (std::sregex_iterator it(play.out.begin(), play.out.end(), status), end; it != end; ++it)
    frames.push_back(std::stoi((*it)[1]));
  ASSERT_GT(frames.size(), 100u) << play.out.substr(0, 3000);
  int forward = 0, backward = 0;
  for (size_t i = 1; i < frames.size(); ++i) {
    forward += frames[i] == frames[i - 1] + 1;
    backward += frames[i] == frames[i - 1] - 1;
  }
  EXPECT_GT(forward, 10);
  EXPECT_GT(backward, 10);

  const auto before = Snapshot(inst);
  ProcResult again = RunProcess({ORVANTE_INIT_TOOL, inst.string()}, opt);
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(CountOf(again.out, "kept: "), 6) << again.out;
  EXPECT_EQ(CountOf(again.out, "written: "), 0) << again.out;
  EXPECT_EQ(Snapshot(inst), before);
}

TEST(InitTool, FailedPictureCopyIsReportedWithExitCodeOne) {
  TempDir t;
  cv::imwrite((t.path / "a.jpg").string(), cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(9)));
  ProcOptions opt;
  opt.cwd = t.path;
  ProcResult r = RunProcess({ORVANTE_INIT_TOOL, "inst", "a.jpg", "nowhere.jpg"}, opt);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("nowhere.jpg"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(t.path / "inst/S001/clip_00000.jpg"));
  EXPECT_TRUE(fs::exists(t.path / "inst/work/zav_env.dat"));  // the rest of the set-up is done all the same
}
