// Gesture recognition engine state. Extended by the engine; the main loop only
// uses the frame buffers and the result block.
#pragma once
#include <array>
#include <cstdint>
#include "common/limits.h"

namespace orv {

struct RecognitionState {
  std::array<std::array<uint8_t, kGriPixels>, 2> GrayFrame{};
  int GrayFrameIndex = 0;
  std::array<uint8_t, kGriPixels> GrayFrameCopy{};
  int mflg = 0;

  // result block
  char JudgedName[144] = {};
  int JudgedGesture = -2;
  int PHASE = -4, ACCEL = -4, WIDTH = -4, SPEED = -4, JudgedLength = -4, INP_FNUM = -4;
  int JudgedSpare = 0;  // the int stored after INP_FNUM; nothing reads it
  double rv = 0.0, rt = 0.0;
  double SampleSpread = 0.0;
};
extern RecognitionState recog;

}  // namespace orv
