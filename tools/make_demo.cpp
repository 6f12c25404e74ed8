// Generates a self-contained demo: DIR/work (working directory with the interface
// images and parameter files), DIR/S001 (the content) and DIR/camera (a recorded camera,
// motion_%04d.png, for ORVANTE_CAMERA), without any download.
//   orvante-make-demo [DIR] [FRAMES]
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "common/platform.h"
#include "control/env_items.h"
#include "control/installation.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

constexpr int kRecordingFrames = 180;  // one sway, 3 s at the camera's 60 fps
constexpr int kDemoThreshold = 6000;    // the recording's motion lies between 300 and 9200

// One frame of the content: a ball orbiting over a shifting sky, a clock hand and the number.
cv::Mat ContentFrame(int i, int n) {
  const int w = 640, h = 360;
  const double t = static_cast<double>(i) / n;
  cv::Mat img(h, w, CV_8UC3);
  for (int y = 0; y < h; ++y) {
    const double v = static_cast<double>(y) / h;
    img.row(y).setTo(cv::Scalar(120 + 100 * v, 60 + 80 * std::sin(2 * M_PI * t) * (1 - v) + 40,
                                40 + 120 * t * (1 - v)));
  }
  cv::rectangle(img, {0, h - 60}, {w, h}, cv::Scalar(40, 90, 40), cv::FILLED);
  const cv::Point c(w / 2 + static_cast<int>(220 * std::cos(2 * M_PI * t)),
                    h / 2 - 30 + static_cast<int>(100 * std::sin(4 * M_PI * t)));
  cv::circle(img, c, 36, cv::Scalar(30, 180, 250), cv::FILLED, cv::LINE_AA);
  cv::circle(img, c, 36, cv::Scalar(20, 60, 120), 3, cv::LINE_AA);
  const cv::Point hub(90, 90);
  cv::circle(img, hub, 60, cv::Scalar(240, 240, 240), 2, cv::LINE_AA);
  cv::line(img, hub,
           hub + cv::Point(static_cast<int>(55 * std::sin(2 * M_PI * t)), static_cast<int>(-55 * std::cos(2 * M_PI * t))),
           cv::Scalar(0, 0, 255), 4, cv::LINE_AA);
  char label[64];
  std::snprintf(label, sizeof label, "frame %03d / %03d", i, n - 1);
  cv::putText(img, label, {w - 330, 50}, cv::FONT_HERSHEY_SIMPLEX, 1.1, cv::Scalar(255, 255, 255), 2, cv::LINE_AA);
  cv::putText(img, "ORVANTE demo", {20, h - 20}, cv::FONT_HERSHEY_SIMPLEX, 0.8, cv::Scalar(220, 255, 220), 2,
              cv::LINE_AA);
  return img;
}

// One frame of the recorded camera: a figure in front of a wall, swaying from side to side
// with its arms swinging. The sway is fastest in the middle of the room and stops at the
// sides, so the motion measure rises above the threshold and falls below it in turn.
cv::Mat CameraFrame(int i, int n) {
  const double t = 2 * M_PI * i / n;
  cv::Mat img(240, 320, CV_8UC3);
  for (int y = 0; y < 240; ++y) img.row(y).setTo(cv::Scalar(150 - y / 4, 160 - y / 4, 170 - y / 4));
  for (int x = 0; x < 320; x += 40) cv::line(img, {x, 0}, {x, 170}, cv::Scalar(120, 130, 140), 1);
  cv::rectangle(img, {0, 170}, {320, 240}, cv::Scalar(70, 90, 110), cv::FILLED);
  const int cx = 160 + static_cast<int>(100 * std::sin(t));
  const double arm = 0.9 * std::sin(3 * t);
  const cv::Scalar skin(140, 170, 220), shirt(160, 60, 40), trousers(60, 50, 40);
  cv::circle(img, {cx, 60}, 18, skin, cv::FILLED, cv::LINE_AA);
  cv::rectangle(img, {cx - 20, 80}, {cx + 20, 145}, shirt, cv::FILLED);
  cv::line(img, {cx - 10, 145}, {cx - 16, 205}, trousers, 12, cv::LINE_AA);
  cv::line(img, {cx + 10, 145}, {cx + 16, 205}, trousers, 12, cv::LINE_AA);
  for (int side : {-1, 1}) {
    const cv::Point shoulder(cx + side * 20, 88);
    const cv::Point hand = shoulder + cv::Point(static_cast<int>(side * 45 * std::cos(arm)),
                                                static_cast<int>(-45 * std::sin(arm) * side));
    cv::line(img, shoulder, hand, shirt, 9, cv::LINE_AA);
    cv::circle(img, hand, 7, skin, cv::FILLED, cv::LINE_AA);
  }
  return img;
}

bool WriteRecording(const fs::path& dir, int frames) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  for (int i = 0; i < frames; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "motion_%04d.png", i);
    if (!cv::imwrite((dir / name).string(), CameraFrame(i, frames))) {
      std::fprintf(stderr, "ERROR: cannot write %s\n", (dir / name).c_str());
      return false;
    }
  }
  return true;
}

bool WriteText(const fs::path& p, const std::string& text) {
  if (!WriteFileAtomic(p.string(), text)) {
    std::fprintf(stderr, "ERROR: cannot write %s\n", p.c_str());
    return false;
  }
  return true;
}

// A recording to teach a gesture from: an arm sweeping up an arc in front of a still wall,
// three times, with still frames before and after each sweep (the arm drops back in one frame,
// too short to count as a motion), and still frames at the end for the learning review.
bool WriteGestureRecording(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  int n = 0;
  auto put = [&](double angle) {
    cv::Mat f(240, 320, CV_8UC3, cv::Scalar(40, 40, 40));
    const cv::Point pivot(160, 225);
    const cv::Point tip(pivot.x + static_cast<int>(150 * std::cos(angle)), pivot.y - static_cast<int>(150 * std::sin(angle)));
    cv::line(f, pivot, tip, cv::Scalar(255, 255, 255), 14, cv::LINE_8);
    char name[32];
    std::snprintf(name, sizeof name, "sweep_%04d.png", n++);
    return cv::imwrite((dir / name).string(), f);
  };
  const double from = 150.0 * M_PI / 180.0, to = 30.0 * M_PI / 180.0;
  bool ok = true;
  for (int s = 0; s < 3; ++s) {
    for (int i = 0; i < 12; ++i) ok = ok && put(from);
    for (int i = 1; i <= 30; ++i) ok = ok && put(from + (to - from) * i / 30);
    for (int i = 0; i < 12; ++i) ok = ok && put(to);
  }
  for (int i = 0; i < 240; ++i) ok = ok && put(from);
  if (!ok) std::fprintf(stderr, "ERROR: cannot write the gesture recording in %s\n", dir.c_str());
  return ok;
}

bool Write(const fs::path& p, const cv::Mat& img) {
  if (!cv::imwrite(p.string(), img, {cv::IMWRITE_JPEG_QUALITY, 88})) {
    std::fprintf(stderr, "ERROR: cannot write %s\n", p.c_str());
    return false;
  }
  return true;
}

// Player parameters: those of a new installation, with the demo's threshold, a status line
// per cycle, idle jumps along three key frames.
bool WriteEnv(const fs::path& p, int frames) {
  EnvValues v = InstallationEnvValues(frames);
  v[static_cast<size_t>(FindEnvItem("VR_threshold"))] = 9600;
  v[static_cast<size_t>(FindEnvItem("KeyFrameMode"))] = 4;
  v[static_cast<size_t>(FindEnvItem("MonitorMode"))] = 1;
  for (int i = 0; i < 3; ++i) v[static_cast<size_t>(kEnvFirstKeyFrame + i)] = (i + 1) * frames / 4.0;
  return WriteText(p, EnvFileText(v));
}

}  // namespace

int main(int argc, char** argv) {
  // Anything that looks like an option is a request for help, not a folder to fill.
  if (argc > 3 || (argc > 1 && argv[1][0] == '-')) {
    const bool asked = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
    std::fprintf(asked ? stdout : stderr,
                 "usage: orvante-make-demo [DIR] [FRAMES]\n"
                 "  writes a demo installation into DIR (default: demo): DIR/work, DIR/S001 with\n"
                 "  FRAMES generated frames (default 240) and DIR/camera, a recorded camera for\n"
                 "  ORVANTE_CAMERA.\n");
    return asked ? 0 : 2;
  }
  const fs::path root = argc > 1 ? argv[1] : "demo";
  const int frames = argc > 2 ? std::max(2, std::atoi(argv[2])) : 240;
  const fs::path work = root / "work", content = root / "S001";
  std::error_code ec;
  fs::create_directories(work, ec);
  fs::create_directories(content, ec);
  if (ec) {
    std::fprintf(stderr, "ERROR: cannot create %s: %s\n", root.c_str(), ec.message().c_str());
    return 1;
  }
  for (int i = 0; i < frames; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "clip_%05d.jpg", i);
    if (!Write(content / name, ContentFrame(i, frames))) return 1;
  }
  if (!Write(work / "to_left.jpg", SideArrowImage(true)) || !Write(work / "to_right.jpg", SideArrowImage(false)) ||
      !Write(work / "keyallocation_01.jpg", KeyChartImage()))
    return 1;
  if (!WriteEnv(work / "zav_env.dat", frames) || !WriteRecording(root / "camera", kRecordingFrames) ||
      !WriteGestureRecording(root / "gesture") ||
      !WriteText(work / "ZAV_THRESHOLD.dat", std::to_string(kDemoThreshold) + "\n") ||
      !WriteText(work / "SetCamera3.txt", CameraSettingsText(0, 1, 0, 0)))
    return 1;
  std::printf("demo written: %s (%d frames in %s)\n", work.c_str(), frames, content.c_str());
  return 0;
}
