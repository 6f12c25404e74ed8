// Tuning from a rehearsal, and the calibration at the end of automatic learning: the threshold
// lies between what the room gives standing still and what it gives when someone moves.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/tune.h"
#include "control/env_items.h"
#include "control/installation.h"
#include "support/process.h"

namespace fs = std::filesystem;
using namespace orv;
using namespace orvtest;

namespace {

// A wall seen by a camera with noise of 2 grey levels, and a bright block that stands, then
// crosses the picture in 30 frames, stands again, and crosses back: 200 frames. `scale` 2
// gives the same room at 640x480. Returns, per frame, whether it moves against the one before.
std::vector<bool> WriteRehearsal(const fs::path& dir, int scale, bool block = true) {
  fs::create_directories(dir);
  cv::RNG rng(21);
  std::vector<bool> moving;
  int prev = -1;
  for (int i = 0; i < 200; ++i) {
    const int phase = i % 100, sweep = i / 100;  // 40 standing, 30 crossing, 30 standing
    const int step = std::clamp(phase - 40, 0, 30);
    const int x = sweep == 0 ? 20 + 7 * step : 230 - 7 * step;
    cv::Mat f(240 * scale, 320 * scale, CV_8UC3);
    for (int y = 0; y < f.rows; ++y) f.row(y).setTo(cv::Scalar::all(60 + 60 * y / f.rows));
    if (block) cv::rectangle(f, cv::Rect(x * scale, 50 * scale, 70 * scale, 150 * scale), cv::Scalar::all(230), cv::FILLED);
    cv::Mat noise(f.size(), CV_16SC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, 2);
    f.convertTo(f, CV_16SC3);
    cv::Mat(f + noise).convertTo(f, CV_8UC3);
    char name[32];
    std::snprintf(name, sizeof name, "f_%04d.png", i);
    EXPECT_TRUE(cv::imwrite((dir / name).string(), f));
    moving.push_back(block && prev >= 0 && x != prev);
    prev = x;
  }
  return moving;
}

// An installation as orvante-init leaves it: 100 frames, step 1, no idle action.
fs::path Installation(const fs::path& root) {
  MakeContent(root, 0, 100);
  fs::create_directories(root / "work");
  WriteFile(root / "work/zav_env.dat", EnvFileText(InstallationEnvValues(100)));
  WriteFile(root / "work/SetCamera3.txt", CameraSettingsText(0, 1, 0, 0));
  return root / "work";
}

// Column `col` of a replay trace of `camera` in `work`, one value per cycle.
std::vector<double> ReplayColumn(const fs::path& work, const std::string& camera, int col) {
  ProcOptions opt;
  opt.cwd = work;
  const ProcResult r = RunProcess({ORVANTE_REPLAY_TOOL, "--camera", camera}, opt);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<double> v;
  std::istringstream in(r.out);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    for (int k = 0; k < col; ++k) line = line.substr(line.find(',') + 1);
    v.push_back(std::stod(line));
  }
  return v;
}

// The largest still value and the smallest moving one (the first cycle has no predecessor).
std::pair<double, double> Classes(const std::vector<double>& sums, const std::vector<bool>& moving) {
  double still = 0, move = 1e12;
  for (size_t i = 1; i < sums.size() && i < moving.size(); ++i) {
    if (moving[i])
      move = std::min(move, sums[i]);
    else
      still = std::max(still, sums[i]);
  }
  return {still, move};
}

int Suggested(const std::string& out) {
  const size_t p = out.find("VR_threshold = ");
  return p == std::string::npos ? -1 : std::atoi(out.c_str() + p + 15);
}

}  // namespace

TEST(Tune, SuggestionLiesBetweenStillAndMovingMeasuredAsTheReplayAndThePlayerFollowsIt) {
  TempDir d;
  const fs::path work = Installation(d.path);
  const std::vector<bool> moving = WriteRehearsal(d.path / "rec", 1);
  const std::string camera = (d.path / "rec/f_%04d.png").string();
  const std::vector<double> traced = ReplayColumn(work, camera, 2);

  TuneOptions o;
  o.workdir = work.string();
  o.camera = camera;
  o.apply = true;
  TuneResult r;
  std::FILE* out = std::tmpfile();
  testing::internal::CaptureStdout();
  ASSERT_EQ(RunTune(o, out, &r), kTuneOk);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(r.sums.size(), traced.size());
  for (size_t i = 0; i < traced.size(); ++i) ASSERT_EQ(r.sums[i], traced[i]) << "cycle " << i + 1;
  const auto [still, move] = Classes(traced, moving);
  EXPECT_LT(still, r.threshold);
  EXPECT_LT(r.threshold, move);
  // Bursts of 30 cycles, each through half of the 100 frames.
  EXPECT_DOUBLE_EQ(r.step, 1.667);
  EXPECT_EQ(ReadFile(work / "ZAV_THRESHOLD.dat"), std::to_string(r.threshold));
  EnvDocument doc;
  std::string err;
  ASSERT_TRUE(ReadEnvFile((work / "zav_env.dat").string(), &doc, &err));
  EXPECT_EQ(doc.values[static_cast<size_t>(FindEnvItem("VR_threshold"))], r.threshold);
  EXPECT_EQ(doc.values[static_cast<size_t>(FindEnvItem("VR_step"))], 1.667);

  // The player, replaying the rehearsal with what was applied: the frame moves on exactly the
  // moving cycles (the threshold file takes over at the end of the first cycle).
  const std::vector<double> frame = ReplayColumn(work, camera, 1);
  for (size_t i = 2; i < frame.size(); ++i) EXPECT_EQ(frame[i] != frame[i - 1], moving[i]) << "cycle " << i + 1;
}

TEST(Tune, StillnessLargerFramesRecordingAndBadArgumentsThroughTheTool) {
  TempDir d;
  const fs::path work = Installation(d.path);
  const std::string env = ReadFile(work / "zav_env.dat");
  WriteRehearsal(d.path / "still", 1, false);
  const std::vector<bool> moving = WriteRehearsal(d.path / "big", 2);
  WriteRehearsal(d.path / "room", 1);
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;  // in the output, or the last line of the errors
  } cases[] = {
      {{"--camera", (d.path / "still/f_%04d.png").string(), "--apply"}, 4, "no clear separation"},
      {{"--camera", (d.path / "big/f_%04d.png").string()}, 0, "these frames are scaled to it"},
      {{"--record", "3"}, 0, "recorded "},
      {{"--record", "3", "--camera", "x.png"}, 1, "either --camera PATH or --record SECONDS is needed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    std::vector<std::string> argv{ORVANTE_TUNE_TOOL};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ProcOptions opt;
    opt.cwd = work;
    opt.env = {{"ORVANTE_CAMERA", (d.path / "room/f_%04d.png").string()}};
    const ProcResult r = RunProcess(argv, opt);
    ASSERT_EQ(r.exitCode, c.code) << r.out << r.err;
    // Quiet: the result first, the player's start-up nowhere; a failure is one line.
    EXPECT_EQ(r.out.rfind("recording", 0), c.code == 1 ? std::string::npos : 0u) << r.out;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.code == 0 ? 0 : 1) << r.err;
    EXPECT_NE((c.code == 0 ? r.out : r.err.substr(r.err.rfind("orvante-tune: "))).find(c.says), std::string::npos)
        << r.out << r.err;
    EXPECT_FALSE(fs::exists(work / "ZAV_THRESHOLD.dat"));  // nothing written without --apply
    EXPECT_EQ(ReadFile(work / "zav_env.dat"), env);
    if (c.args[0] == "--camera" && c.code == 0) {
      // Scaled as the player scales them, the larger frames separate the same cycles.
      const auto [still, move] = Classes(ReplayColumn(work, c.args[1], 2), moving);
      EXPECT_LT(still, Suggested(r.out));
      EXPECT_LT(Suggested(r.out), move);
    } else if (c.args[0] == "--record" && c.code == 0) {
      EXPECT_TRUE(fs::exists(work / "rehearsal/rehearsal_00000.png"));
      EXPECT_GT(Suggested(r.out), 0);
    }
  }
}

TEST(Tune, AutomaticLearningOnTheDemoGestureCalibratesBetweenStillAndMoving) {
  TempDir d;
  ProcOptions opt;
  opt.cwd = d.path;
  ASSERT_EQ(RunProcess({ORVANTE_DEMO_TOOL, d.path.string(), "40"}, opt).exitCode, 0);
  const std::string camera = (d.path / "gesture/sweep_%04d.png").string();
  // Three sweeps of 30 frames, each after 12 still frames and before 12 more.
  const std::vector<double> sums = ReplayColumn(d.path / "work", camera, 2);
  double sweep = 1e12;
  for (int s = 0; s < 3; ++s)
    for (int f = s * 54 + 12; f < s * 54 + 42; ++f) sweep = std::min(sweep, sums[static_cast<size_t>(f)]);

  WriteFile(d.path / "work/auto.txt", "1 q\n2 a\n100000 ESC\n100000 ESC\n");
  opt.cwd = d.path / "work";
  opt.env = {{"ORVANTE_HEADLESS", "1"}, {"ORVANTE_SCRIPT", "auto.txt"}, {"ORVANTE_CAMERA", camera}};
  const pid_t pid = StartProcess({ORVANTE_BINARY}, opt, d.path / "out.txt", d.path / "err.txt");
  std::string out;
  for (int i = 0; i < 600 && out.find("DifferenceCnt") == std::string::npos; ++i) {
    ::usleep(100000);
    out = ReadFile(d.path / "out.txt");
  }
  StopProcess(pid);
  const size_t p = out.find("*** VR_threshold=[ ");
  ASSERT_NE(p, std::string::npos) << out.substr(out.size() > 3000 ? out.size() - 3000 : 0);
  EXPECT_NE(out.find("--> Updated [ VR_threshold ]: between the still level 48 "), std::string::npos);
  const int threshold = std::atoi(out.c_str() + p + 19);
  EXPECT_GT(threshold, 0);  // the recording's still frames give 0
  EXPECT_LT(threshold, sweep);
  EXPECT_EQ(ReadFile(d.path / "work/ZAV_THRESHOLD.dat"), std::to_string(threshold));
}
