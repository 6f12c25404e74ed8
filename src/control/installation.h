// What a working directory is given when an installation is set up (orvante-init) or a demo
// generated (orvante-make-demo): the interface images and the text files the player reads.
#pragma once
#include <span>
#include <string>

#include <opencv2/core.hpp>

#include "control/env_items.h"

namespace orv {

// Interface images loaded at start-up: the side-image pair and the pause screen.
cv::Mat SideArrowImage(bool left);  // to_left.jpg / to_right.jpg
cv::Mat KeyChartImage();            // keyallocation_01.jpg: every key and button, in English
// A row of that chart: two keys with their texts ("" where a cell is empty).
struct KeyChartRow {
  const char* key1;
  const char* text1;
  const char* key2;
  const char* text2;
};
std::span<const KeyChartRow> KeyChartRows();

// Parameter values for a new installation with `frames` frames (0: not known yet). They play:
// one frame per cycle of motion, bursts reverse the direction, nothing moves by itself when
// nobody is there, and the console stays quiet for an unattended run.
EnvValues InstallationEnvValues(int frames);
constexpr int kInstallationThreshold = 11500;  // ZAV_THRESHOLD.dat of a new installation

// "CamFlipV CamFlipH CamChan CamOnMemory CamBeep", one a line.
std::string CameraSettingsText(int flipV, int flipH, int channel, int beep);

// Outcome of writing one file of a new installation.
enum class NewFile { Written, Kept, Failed };
// Writes text (atomically) unless path exists; an existing file is never touched.
NewFile WriteNewFile(const std::string& path, const std::string& text);
// The same for an image, written as JPEG.
NewFile WriteNewImage(const std::string& path, const cv::Mat& img);

}  // namespace orv
