// Files of a new working directory: interface images and starting parameter files.
#include "control/installation.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "common/platform.h"

namespace orv {

cv::Mat SideArrowImage(bool left) {
  cv::Mat img(240, 160, CV_8UC3, cv::Scalar(50, 50, 50));
  std::vector<cv::Point> pts = left ? std::vector<cv::Point>{{20, 120}, {120, 40}, {120, 200}}
                                    : std::vector<cv::Point>{{140, 120}, {40, 40}, {40, 200}};
  cv::fillConvexPoly(img, pts, cv::Scalar(0, 200, 255), cv::LINE_AA);
  return img;
}

// The pause screen's chart. Shown while the player is paused, so it leads with how to go on
// and how to stop.
constexpr KeyChartRow kKeyChart[] = {
    {"ENTER", "resume", "ESC", "quit"},
    {"e / d", "DThreshold of the gesture engine up / down", "", ""},
    {"", "", "", ""},
    {"", "While playing (click the picture window first):", "", ""},
    {"ESC", "pause", "ENTER", "key list on the console"},
    {"q", "camera on / off", "i", "motion read-out on / off"},
    {"v / V", "motion threshold down / up", "z / x", "previous / next frame"},
    {"j", "random frame", "J", "automatic jumps on / off"},
    {"l", "first frame", "e", "mirror the picture"},
    {"Z , / X .", "shift the picture", "SPACE", "window: free / fitted"},
    {"h", "motion counting on / off", "H / B", "clear count / bell"},
    {"t", "save the frame to ..", "T", "save, then next frame"},
    {"k", "copy ../clip_00000.jpg", "0 - 7", "gesture to teach"},
    {"g", "teach its standard motion", "s", "learning pass"},
    {"a", "automatic learning", "w", "save the knowledge base"},
    {"o", "operator view on / off", "ESC", "while teaching: cancel it"},
    {"mouse", "left = mirror   middle = random frame   right = camera", "", ""},
};

std::span<const KeyChartRow> KeyChartRows() { return kKeyChart; }

cv::Mat KeyChartImage() {
  cv::Mat img(600, 800, CV_8UC3, cv::Scalar(30, 30, 30));
  cv::putText(img, "PAUSED", {30, 60}, cv::FONT_HERSHEY_SIMPLEX, 1.2, cv::Scalar(255, 255, 255), 2, cv::LINE_AA);
  const cv::Scalar keyColour(120, 220, 255), textColour(255, 255, 255);
  int y = 110;
  for (const KeyChartRow& r : kKeyChart) {
    cv::putText(img, r.key1, {30, y}, cv::FONT_HERSHEY_SIMPLEX, 0.55, keyColour, 1, cv::LINE_AA);
    cv::putText(img, r.text1, {r.key1[0] ? 140 : 30, y}, cv::FONT_HERSHEY_SIMPLEX, 0.55, textColour, 1, cv::LINE_AA);
    cv::putText(img, r.key2, {440, y}, cv::FONT_HERSHEY_SIMPLEX, 0.55, keyColour, 1, cv::LINE_AA);
    cv::putText(img, r.text2, {530, y}, cv::FONT_HERSHEY_SIMPLEX, 0.55, textColour, 1, cv::LINE_AA);
    y += 28;
  }
  return img;
}

EnvValues InstallationEnvValues(int frames) {
  EnvValues v{};  // key frames and the five extras: 0
  auto set = [&](const char* name, double value) { v[static_cast<size_t>(FindEnvItem(name))] = value; };
  set("SampleStep", 4);
  set("ContentNumber", 0);
  set("MaxCount", frames);  // 0 is refused by the player, which then keeps the count it found
  set("frame_no", 0.0);
  set("VR_threshold", kInstallationThreshold);
  set("Direction", 1);
  set("VR_step", 1.0);
  set("BurstFlip", 3);
  set("BurstReset", 1);
  set("KeyFrameMode", 0);
  set("IdleCount", 0);
  set("IdleLimit", 120);
  set("MonitorMode", 0);
  set("PreviewMode", 2);
  set("WrapFlag", 1);
  set("PlayState", 1);
  set("KeyFrameIndex", 0);
  return v;
}

std::string CameraSettingsText(int flipV, int flipH, int channel, int beep) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%d\n%d\n%d\n1\n%d\n", flipV, flipH, channel, beep);
  return buf;
}

NewFile WriteNewFile(const std::string& path, const std::string& text) {
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return NewFile::Kept;
  // Complete beside the target first, then link it in: link() never replaces a file that
  // appeared meanwhile, and nobody ever sees half a file.
  const std::string staged = path + ".new";
  if (!WriteFileAtomic(staged, text)) return NewFile::Failed;
  const int linked = ::link(staged.c_str(), path.c_str());
  const int e = errno;
  ::unlink(staged.c_str());
  if (linked == 0) return NewFile::Written;
  return e == EEXIST ? NewFile::Kept : NewFile::Failed;
}

NewFile WriteNewImage(const std::string& path, const cv::Mat& img) {
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return NewFile::Kept;
  std::vector<uchar> jpeg;
  if (!cv::imencode(".jpg", img, jpeg, {cv::IMWRITE_JPEG_QUALITY, 90})) return NewFile::Failed;
  return WriteNewFile(path, std::string(jpeg.begin(), jpeg.end()));
}

}  // namespace orv
