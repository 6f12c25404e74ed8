// The engine's per-frame driver. Internal to the engine: the learning floor's RunEngineFrame
// (which runs the hand-off after it) and the recognizer's own tests call it; everyone else
// runs the engine through RunEngineFrame.
#pragma once
#include <array>
#include <cstdint>

#include "common/limits.h"

namespace orv {

// One camera frame (gray: 320x240 grey, row-major, as the capture left it) through the
// recognizer (learnGesture 0..7 stores its characteristics as samples of that gesture). True when the frame ended a judged motion sequence: the final
// judgement is in the result block and the learning hand-off is due.
bool DriveGRI(int learnGesture, const std::array<uint8_t, kCamPixels>& gray);

}  // namespace orv
