// The one instance of each subsystem's state.
#include "common/app_state.h"
#include "common/control_state.h"
#include "common/player_state.h"

namespace orv {

AppState app;
std::array<NameSlot, kMaxFrames> ArgName{};
PlayerState player;
std::array<FrameRecord, kMaxFrames> FrameData{};
std::array<cv::Mat, kMaxFrames> FrameImages;
ControlState control;
std::array<int32_t, 23000> PivotHistory{};

int RandomNumber() {
  // Same range as the C library generator the design used (0..RAND_MAX-like, non-negative).
  return static_cast<int>(player.Random() & 0x7fffffffu);
}

}  // namespace orv
