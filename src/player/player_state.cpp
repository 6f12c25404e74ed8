// The one instance of the player's state and its tables.
#include "player/player_state.h"

namespace orv {

std::array<NameSlot, kMaxFrames> ArgName{};
PlayerState player;
std::array<FrameRecord, kMaxFrames> FrameData{};
std::array<cv::Mat, kMaxFrames> FrameImages;

int RandomNumber() {
  // Same range as the C library generator the design used (0..RAND_MAX-like, non-negative).
  return static_cast<int>(player.Random() & 0x7fffffffu);
}

}  // namespace orv
