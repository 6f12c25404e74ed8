// Operator commands and configuration state.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <opencv2/core.hpp>

namespace orv {

struct ControlState {
  // Console monitor: 0 quiet, 1 a status line per cycle, 2 the shared-memory motion line
  // (i toggles 0/2). Non-zero also prints the "KEY FUNCTION" line of each command.
  int MonitorMode = 0;
  int ZAV_threshold = 11500;  // threshold as kept in ZAV_THRESHOLD.dat (v/V change it by
                              // 76,800 / (SampleStep^2 * 100), 48 at step 4)
  // Threshold the motion player compares DifferenceSum with; replaced by ZAV_threshold at
  // every command step. 153600 / (SampleStep * SampleStep), set again by the loop set-up.
  int VR_threshold = 9600;
  int SampleStep = 4;          // pixel grid step of the motion measure, 1..320
  int ImageShift = 0;          // horizontal shift of the shown frame in pixels (Z/X), 0 = none
  cv::Mat ShiftedImage;        // last shifted copy (also the frame's cache image meanwhile)
  int VARIABLE_SIZE_FLAG = 0;  // 1: the player window sizes itself to the picture (SPACE)

  // ---- camera settings file (SetCamera3.txt) -----------------------------------
  int CamFlipV = 0;     // non-zero: camera frames are turned upside down before use
  int CamFlipH = 1;     // non-zero: camera frames are mirrored left-right before use
  int CamChan = 0;      // camera number to open (/dev/videoN); also picks the shared word 1+n
  int CamOnMemory = 1;  // frame images kept in the cache; always 1 whatever the file says
  int CamBeep = 0;      // non-zero: the gesture engine rings the bell at its cues

  std::string EnvFile;  // parameter file last read
};
extern ControlState control;

// Key frames imported from the content folder's ncx_config.dat: 23,000 frame numbers, of
// which entries 0..1279 become KeyFrameNumber (0 or less = empty).
extern std::array<int32_t, 23000> PivotHistory;

}  // namespace orv
