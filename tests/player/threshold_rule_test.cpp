// The still/moving threshold rule over a table of recordings, each labelled frame by frame by
// its generator: what orvante-tune suggests, where the recording's still and moving cycles fall
// against it, and the player following the suggestion.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "control/env_items.h"
#include "control/installation.h"
#include "support/ci.h"
#include "support/process.h"

namespace fs = std::filesystem;
using namespace orvtest;

namespace {

// People walking across a wide street view (opencv-doc's sample data).
const std::string kStreet = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";

struct Case {
  std::string name, source;  // source: a recording; its first `frames` frames, scaled to 320x240
  int frames, pad;           // `pad` copies of the first frame before and of the last after
  double sigma;              // camera noise in every frame, grey levels
  int code, threshold;       // orvante-tune's exit code and suggestion
  std::string says;          // in its last line when it suggests nothing
};

// Writes the case's frames as f_%04d.png; returns per frame whether it differs from the one before.
std::vector<bool> WriteCase(const Case& c, const fs::path& dir) {
  std::vector<cv::Mat> base;
  cv::VideoCapture in(c.source);
  for (cv::Mat f, s; static_cast<int>(base.size()) < c.frames && in.read(f); base.push_back(s.clone()))
    cv::resize(f, s, cv::Size(320, 240), 0, 0, cv::INTER_AREA);
  EXPECT_FALSE(base.empty()) << c.source;
  base.insert(base.begin(), static_cast<size_t>(c.pad), base.front());
  base.insert(base.end(), static_cast<size_t>(c.pad), base.back());
  fs::create_directories(dir);
  cv::RNG rng(27);
  std::vector<bool> moving;
  for (size_t i = 0; i < base.size(); ++i) {
    moving.push_back(i > 0 && cv::norm(base[i], base[i - 1], cv::NORM_INF) > 0);
    cv::Mat f = base[i];
    if (c.sigma > 0) {
      cv::Mat noise(f.size(), CV_16SC3);
      rng.fill(noise, cv::RNG::NORMAL, 0, c.sigma);
      f.convertTo(f, CV_16SC3);
      cv::Mat(f + noise).convertTo(f, CV_8UC3);
    }
    char name[32];
    std::snprintf(name, sizeof name, "f_%04d.png", static_cast<int>(i));
    EXPECT_TRUE(cv::imwrite((dir / name).string(), f));
  }
  return moving;
}

}  // namespace

TEST(ThresholdRule, SuggestionSeparatesEachRecordingAndThePlayerFollowsIt) {
  ORVTEST_NEED(fs::exists(kStreet), kStreet + " is missing (package opencv-doc)");
  TempDir d;
  const fs::path work = d.path / "work";
  MakeContent(d.path, 0, 100);
  fs::create_directories(work);
  WriteFile(work / "SetCamera3.txt", orv::CameraSettingsText(0, 1, 0, 0));
  const std::string kinds[] = {"sweep", "arm-swing", "arm-raise", "bend", "wave", "crossing", "rising"};
  std::vector<Case> cases;
  const int thresholds[] = {1006, 283, 448, 374, 103, 1201, 496};
  for (size_t k = 0; k < std::size(kinds); ++k) {
    ASSERT_EQ(RunProcess({ORVANTE_DEMO_TOOL, "--motion", kinds[k], (d.path / kinds[k]).string()}, {}).exitCode, 0);
    cases.push_back({kinds[k], (d.path / kinds[k] / (kinds[k] + "_%04d.png")).string(), 999, 0, 0, 0, thresholds[k], ""});
  }
  ASSERT_EQ(RunProcess({ORVANTE_DEMO_TOOL, (d.path / "demo").string(), "20"}, {}).exitCode, 0);
  cases.push_back({"demo camera", (d.path / "demo/camera/motion_%04d.png").string(), 999, 0, 0, 0, 203, ""});
  cases.push_back({"street, still copies", kStreet, 240, 120, 0, 0, 451, ""});
  cases.push_back({"street, noise 1", kStreet, 240, 120, 1, 0, 5212, ""});
  cases.push_back({"street, noise 2", kStreet, 240, 120, 2, 0, 8756, ""});
  cases.push_back({"street, noise 4", kStreet, 240, 120, 4, 0, 15996, ""});
  cases.push_back({"noise 2 alone", kStreet, 1, 150, 2, 4, 0, "nothing moves (camera noise alone)"});
  cases.push_back({"street alone", kStreet, 240, 0, 0, 4, 0, "motion throughout (no still stretch)"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(work / "zav_env.dat", orv::EnvFileText(orv::InstallationEnvValues(100)));
    fs::remove(work / "ZAV_THRESHOLD.dat");
    const std::vector<bool> moving = WriteCase(c, d.path / "rec");
    const std::string camera = (d.path / "rec/f_%04d.png").string();
    ProcOptions opt;
    opt.cwd = work;
    const ProcResult t = RunProcess({ORVANTE_TUNE_TOOL, "--camera", camera, "--apply"}, opt);
    ASSERT_EQ(t.exitCode, c.code) << t.out << t.err;
    const size_t p = t.out.find("VR_threshold = ");
    EXPECT_EQ(p == std::string::npos ? 0 : std::atoi(t.out.c_str() + p + 15), c.threshold) << t.out;
    if (c.code != 0) {
      EXPECT_NE(t.err.find(c.says), std::string::npos) << t.err;
      std::printf("| %s | exit %d: %s\n", c.name.c_str(), c.code, c.says.c_str());
    } else {
      // The player replays it with the suggestion applied; the cycles at each change of label
      // are left out of the shares.
      const ProcResult r = RunProcess({ORVANTE_REPLAY_TOOL, "--camera", camera}, opt);
      ASSERT_EQ(r.exitCode, 0) << r.err;
      std::istringstream trace(r.out);
      std::string line;
      std::getline(trace, line);
      std::vector<double> frame, sum;
      for (double a, b; std::getline(trace, line);) {
        std::sscanf(line.c_str(), "%*[^,],%lf,%lf", &a, &b);
        frame.push_back(a);
        sum.push_back(b);
      }
      ASSERT_EQ(sum.size(), moving.size());
      int n[2] = {0, 0}, above[2] = {0, 0}, moved[2] = {0, 0};
      for (size_t i = 2; i + 1 < sum.size(); ++i) {
        if (moving[i] != moving[i - 1] || moving[i] != moving[i + 1]) continue;
        ++n[moving[i]];
        above[moving[i]] += sum[i] > c.threshold;
        moved[moving[i]] += frame[i] != frame[i - 1];
      }
      EXPECT_LE(above[0], n[0] / 100) << n[0] << " still cycles";
      EXPECT_GE(above[1], n[1] - n[1] / 20) << n[1] << " moving cycles";
      EXPECT_EQ(moved[0], above[0]);
      EXPECT_EQ(moved[1], above[1]);
      std::printf("| %s | %d | %d of %d still below | %d of %d moving above |\n", c.name.c_str(), c.threshold,
                  n[0] - above[0], n[0], above[1], n[1]);
    }
    fs::remove_all(d.path / "rec");
  }
}
