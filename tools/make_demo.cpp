// Generates a self-contained demo: DIR/work (working directory with the interface
// images and parameter files), DIR/S001 (the content) and DIR/camera (a recorded camera,
// motion_%04d.png, for ORVANTE_CAMERA), without any download; or one recorded motion of a
// kind to teach a gesture from.
//   orvante-make-demo [DIR] [FRAMES]
//   orvante-make-demo --motion KIND DIR [FRAMES]
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "common/platform.h"
#include "player/player_state.h"
#include "control/env_items.h"
#include "control/installation.h"
#include "player/motion.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

constexpr int kWalkStep = 4;          // px a frame: each edge crosses a column of the motion grid
constexpr int kHoldFrames = 40;       // the figure stands still at each side of the room for 2/3 s
constexpr double kCameraNoise = 1.0;  // grey levels, in every frame, as a real camera has

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

// One frame of the recorded camera: a figure in front of a wall at x = cx, its arms swung to
// `arm` (radians).
cv::Mat CameraFrame(int cx, double arm) {
  cv::Mat img(240, 320, CV_8UC3);
  for (int y = 0; y < 240; ++y) img.row(y).setTo(cv::Scalar(150 - y / 4, 160 - y / 4, 170 - y / 4));
  for (int x = 0; x < 320; x += 40) cv::line(img, {x, 0}, {x, 170}, cv::Scalar(120, 130, 140), 1);
  cv::rectangle(img, {0, 170}, {320, 240}, cv::Scalar(70, 90, 110), cv::FILLED);
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

// The recorded camera's 180 frames: the figure walks from the middle to the right side, arms
// swinging, stands there, walks to the left side, stands, and walks back to the middle (the
// recording loops). Camera noise in every frame: standing still measures as with a real
// camera, above 0, so that each walk ends a burst of motion and turns the player round.
// `moving`: per frame, whether the figure moved since the frame before.
std::vector<cv::Mat> RecordingFrames(std::vector<bool>* moving) {
  std::vector<cv::Mat> frames;
  cv::RNG rng(60);
  int x = 160, walked = 0;
  const auto put = [&](bool moved) {
    moving->push_back(moved);
    cv::Mat f = CameraFrame(x, 0.9 * std::sin(0.25 * walked)), noise(240, 320, CV_16SC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, kCameraNoise);
    f.convertTo(f, CV_16SC3);
    cv::Mat(f + noise).convertTo(f, CV_8UC3);
    frames.push_back(f);
  };
  for (const int to : {260, 60, 160}) {
    for (; x != to; ++walked) {
      x += x < to ? kWalkStep : -kWalkStep;
      put(true);
    }
    for (int k = 0; to != 160 && k < kHoldFrames; ++k) put(false);
  }
  return frames;
}

bool WriteText(const fs::path& p, const std::string& text) {
  if (!WriteFileAtomic(p.string(), text)) {
    std::fprintf(stderr, "ERROR: cannot write %s\n", p.c_str());
    return false;
  }
  return true;
}

// The frames as motion_%04d.png, and labels.txt: "moving" or "still" for each, one a line.
bool WriteRecording(const fs::path& dir, const std::vector<cv::Mat>& frames, const std::vector<bool>& moving) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  std::string labels;
  for (bool m : moving) labels += m ? "moving\n" : "still\n";
  if (!WriteText(dir / "labels.txt", labels)) return false;
  for (size_t i = 0; i < frames.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "motion_%04zu.png", i);
    if (!cv::imwrite((dir / name).string(), frames[i])) {
      std::fprintf(stderr, "ERROR: cannot write %s\n", (dir / name).c_str());
      return false;
    }
  }
  return true;
}

// The demo's threshold: the recorded camera measured as the player measures it (grey, mirrored
// as the demo's SetCamera3.txt asks, the motion measure at the demo's SampleStep) and placed by
// the rule orvante-tune applies. 0 when the rule finds no separation.
int DemoThreshold(const std::vector<cv::Mat>& frames, int sampleStep) {
  player.SampleStep = sampleStep;
  std::vector<int> sums;
  cv::Mat grey;
  for (size_t i = 0; i < frames.size(); ++i) {
    cv::cvtColor(frames[i], grey, cv::COLOR_BGR2GRAY);
    cv::flip(grey, grey, 1);
    std::memcpy(player.GrayFrames[i % 2].data(), grey.data, player.GrayFrames[i % 2].size());
    if (i > 0) sums.push_back(GreyDifferenceSum());
  }
  const MotionLevels m = SeparateMotion(sums, SamplePoints());
  return m.separated ? m.threshold : 0;
}

// ---- recorded motions to teach gestures from ------------------------------------------
// Each recording repeats one motion: still frames in the start pose, the motion, still
// frames in the end pose, and back to the start in one frame (a burst too short to count as
// a motion); still frames at the end give the learning review its time.

// Drawn pose of frame i of a motion of n frames: 0 is the start pose, n the end pose.
using DrawMotion = cv::Mat (*)(int i, int n);

struct MotionKind {
  const char* name;
  const char* what;  // one line for the help
  int frames;        // frames of motion
  DrawMotion draw;
};

struct MotionLayout {
  int repeats = 3;  // the taught motion and two learning passes
  int still = 12;   // still frames before and after each motion
  int tail = 200;   // still frames at the end
};

double Progress(int i, int n) { return n > 0 ? static_cast<double>(i) / n : 0.0; }
double Radians(double degrees) { return degrees * M_PI / 180.0; }
double Between(double a, double b, double t) { return a + (b - a) * t; }

// Grey 30 is below the engine's foreground level (40): only the figure counts as foreground.
cv::Mat Wall() { return cv::Mat(240, 320, CV_8UC3, cv::Scalar(30, 30, 30)); }

cv::Point Towards(cv::Point from, double angle, double length) {
  return from + cv::Point(static_cast<int>(std::lround(length * std::cos(angle))),
                          static_cast<int>(std::lround(-length * std::sin(angle))));
}

// A standing figure in light colours. Angles in radians, 0 towards +x, pi/2 up.
struct Pose {
  int x = 160;                   // hip centre, px
  double bend = 0.0;             // upper body forward (towards +x) from upright
  double arm = Radians(-90.0);   // right upper arm from the shoulder; -90 = hanging
  double forearm = 0.0;          // forearm relative to the upper arm
};

cv::Mat Figure(const Pose& p) {
  cv::Mat img = Wall();
  const cv::Point hip(p.x, 140);
  const double up = Radians(90.0) - p.bend;
  for (int side : {-1, 1}) cv::line(img, hip + cv::Point(side * 9, 0), {p.x + side * 16, 215}, {170, 170, 170}, 12);
  const cv::Point neck = Towards(hip, up, 50);
  cv::line(img, hip, Towards(hip, up, 58), {200, 200, 200}, 26);
  cv::circle(img, Towards(hip, up, 80), 14, {230, 230, 230}, cv::FILLED);
  const cv::Point other = Towards(neck, up + Radians(90.0), 16), shoulder = Towards(neck, up - Radians(90.0), 16);
  cv::line(img, other, other + cv::Point(-4, 48), {190, 190, 190}, 9);  // the other arm hangs
  const cv::Point elbow = Towards(shoulder, p.arm, 36);
  cv::line(img, shoulder, elbow, {250, 250, 250}, 9);
  cv::line(img, elbow, Towards(elbow, p.arm + p.forearm, 32), {250, 250, 250}, 9);
  return img;
}

// The demo's sweep: a bar turning up an arc about its foot.
cv::Mat Sweep(int i, int n) {
  cv::Mat f(240, 320, CV_8UC3, cv::Scalar(40, 40, 40));
  const double from = 150.0 * M_PI / 180.0, to = 30.0 * M_PI / 180.0;
  const double angle = from + (to - from) * i / n;
  const cv::Point pivot(160, 225);
  const cv::Point tip(pivot.x + static_cast<int>(150 * std::cos(angle)), pivot.y - static_cast<int>(150 * std::sin(angle)));
  cv::line(f, pivot, tip, cv::Scalar(255, 255, 255), 14, cv::LINE_8);
  return f;
}

const MotionKind kMotionKinds[] = {
    {"sweep", "a bar turning up an arc about its foot (the demo's gesture)", 30, Sweep},
    {"arm-swing", "an arm swinging about the shoulder of a still figure", 40,
     [](int i, int n) { return Figure({.arm = Between(Radians(-160.0), Radians(-20.0), Progress(i, n))}); }},
    {"arm-raise", "an arm raised sideways from hanging to straight up", 40,
     [](int i, int n) { return Figure({.arm = Between(Radians(-90.0), Radians(90.0), Progress(i, n))}); }},
    {"bend", "the upper body bending forward from the hips", 40,
     [](int i, int n) { return Figure({.bend = Between(0.0, Radians(75.0), Progress(i, n))}); }},
    {"wave", "a hand waving twice, the forearm turning about the raised elbow", 40,
     [](int i, int n) {
       return Figure({.arm = Radians(20.0), .forearm = Radians(60.0 + 40.0 * std::sin(4 * M_PI * Progress(i, n)))});
     }},
    {"crossing", "the whole figure crossing the picture, 6 px per frame", 40,
     [](int i, int n) { return Figure({.x = static_cast<int>(std::lround(Between(40, 280, Progress(i, n))))}); }},
    {"rising", "a ball rising through the picture, 5 px per frame", 40,
     [](int i, int n) {
       cv::Mat img = Wall();
       cv::circle(img, {160, static_cast<int>(std::lround(Between(215, 15, Progress(i, n))))}, 22, {220, 220, 220},
                  cv::FILLED);
       return img;
     }},
};

const MotionKind* FindMotionKind(const std::string& name) {
  for (const MotionKind& k : kMotionKinds)
    if (name == k.name) return &k;
  return nullptr;
}

bool WriteMotion(const fs::path& dir, const MotionKind& kind, const MotionLayout& l) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  int n = 0;
  auto put = [&](int i) {
    char name[64];
    std::snprintf(name, sizeof name, "%s_%04d.png", kind.name, n++);
    return cv::imwrite((dir / name).string(), kind.draw(i, kind.frames));
  };
  bool ok = true;
  for (int r = 0; r < l.repeats; ++r) {
    for (int i = 0; i < l.still; ++i) ok = ok && put(0);
    for (int i = 1; i <= kind.frames; ++i) ok = ok && put(i);
    for (int i = 0; i < l.still; ++i) ok = ok && put(kind.frames);
  }
  for (int i = 0; i < l.tail; ++i) ok = ok && put(0);
  if (!ok) std::fprintf(stderr, "ERROR: cannot write the %s recording in %s\n", kind.name, dir.c_str());
  return ok;
}

// The demo's recording to teach a gesture from: the sweep three times, then still frames.
bool WriteGestureRecording(const fs::path& dir) {
  return WriteMotion(dir, *FindMotionKind("sweep"), {.repeats = 3, .still = 12, .tail = 240});
}

void MotionUsage(std::FILE* to) {
  std::fprintf(to, "usage: orvante-make-demo --motion KIND DIR [FRAMES]\n"
                   "  writes DIR/KIND_%%04d.png, a recorded camera that repeats one motion three times\n"
                   "  (still, moving FRAMES frames, still), then stays still for 200 frames. KIND is\n"
                   "  one of:\n");
  for (const MotionKind& k : kMotionKinds) std::fprintf(to, "    %-10s %s (%d frames)\n", k.name, k.what, k.frames);
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
bool WriteEnv(const fs::path& p, EnvValues v, int frames, int threshold) {
  v[static_cast<size_t>(FindEnvItem("VR_threshold"))] = threshold;
  v[static_cast<size_t>(FindEnvItem("KeyFrameMode"))] = 4;
  v[static_cast<size_t>(FindEnvItem("MonitorMode"))] = 1;
  for (int i = 0; i < 3; ++i) v[static_cast<size_t>(kEnvFirstKeyFrame + i)] = (i + 1) * frames / 4.0;
  return WriteText(p, EnvFileText(v));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--motion") == 0) {
    if (argc == 3 && std::strcmp(argv[2], "list") == 0) {
      MotionUsage(stdout);
      return 0;
    }
    const MotionKind* found = argc == 4 || argc == 5 ? FindMotionKind(argv[2]) : nullptr;
    const int frames = argc == 5 ? std::atoi(argv[4]) : found ? found->frames : 0;
    if (!found || frames < 4 || frames > 190) {
      if (argc >= 4 && !found) std::fprintf(stderr, "ERROR: unknown motion kind %s\n", argv[2]);
      if (found) std::fprintf(stderr, "ERROR: FRAMES is 4..190 (a motion sequence holds at most 200)\n");
      MotionUsage(stderr);
      return 2;
    }
    MotionKind kind = *found;
    kind.frames = frames;  // the same way at another speed
    const MotionLayout l;
    if (!WriteMotion(argv[3], kind, l)) return 1;
    std::printf("%s/%s_%%04d.png: %d frames\n", argv[3], kind.name, l.repeats * (2 * l.still + kind.frames) + l.tail);
    return 0;
  }
  // Anything else that looks like an option is a request for help, not a folder to fill.
  if (argc > 3 || (argc > 1 && argv[1][0] == '-')) {
    const bool asked = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
    std::fprintf(asked ? stdout : stderr,
                 "usage: orvante-make-demo [DIR] [FRAMES]\n"
                 "  writes a demo installation into DIR (default: demo): DIR/work, DIR/S001 with\n"
                 "  FRAMES generated frames (default 240) and DIR/camera, a recorded camera for\n"
                 "  ORVANTE_CAMERA.\n"
                 "       orvante-make-demo --motion KIND DIR\n"
                 "  writes a recorded motion to teach a gesture from (--motion list: the kinds).\n");
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
  const EnvValues env = InstallationEnvValues(frames);
  std::vector<bool> moving;
  const std::vector<cv::Mat> recording = RecordingFrames(&moving);
  const int threshold =
      DemoThreshold(recording, static_cast<int>(env[static_cast<size_t>(FindEnvItem("SampleStep"))]));
  if (threshold <= 0) {
    std::fprintf(stderr, "ERROR: the demo's recorded camera separates no still from moving cycles\n");
    return 1;
  }
  if (!WriteEnv(work / "zav_env.dat", env, frames, threshold) || !WriteRecording(root / "camera", recording, moving) ||
      !WriteGestureRecording(root / "gesture") ||
      !WriteText(work / "ZAV_THRESHOLD.dat", std::to_string(threshold) + "\n") ||
      !WriteText(work / "SetCamera3.txt", CameraSettingsText(0, 1, 0, 0)))
    return 1;
  std::printf("demo written: %s (%d frames in %s; VR_threshold %d from the recorded camera)\n", work.c_str(), frames,
              content.c_str(), threshold);
  return 0;
}
