// Operator commands and configuration state.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <opencv2/core.hpp>

namespace orv {

struct ControlState {
  int MonitorMode = 0;
  int ZAV_threshold = 11500;
  int VR_threshold = 9600;  // 153600 / (SampleStep * SampleStep), set again by the loop set-up
  int SampleStep = 4;
  int ImageShift = 0;
  cv::Mat ShiftedImage;
  int VARIABLE_SIZE_FLAG = 0;

  // camera settings file
  int CamFlipV = 0;
  int CamFlipH = 1;
  int CamChan = 0;
  int CamOnMemory = 1;
  int CamBeep = 0;

  std::string EnvFile;  // parameter file last read
};
extern ControlState control;

// Key frames imported from ncx_config.dat (23,000 ints; only 0..1279 are used).
extern std::array<int32_t, 23000> PivotHistory;

}  // namespace orv
