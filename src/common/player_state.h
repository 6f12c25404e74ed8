// Camera, content and motion player state.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <opencv2/core.hpp>
#include "common/limits.h"

namespace orv {

// One frame of a content, exactly as stored in a frame index file.
struct FrameRecord {
  int32_t loaded;
  char path[kNameSize];
  char http[kNameSize];
  char file[kNameSize];
};
static_assert(sizeof(FrameRecord) == 756, "FrameRecord must match the 756-byte file record");
static_assert(offsetof(FrameRecord, path) == 4 && offsetof(FrameRecord, http) == 254 &&
              offsetof(FrameRecord, file) == 504, "FrameRecord field offsets");

struct PlayerState {
  // camera
  int CameraOn = 0;
  cv::Mat CameraFrame, CameraGray;
  std::array<std::array<uint8_t, kCamPixels>, 2> GrayFrames{};
  int GrayIndex = 0;
  // Replays: 1 = the capture that gets no frame, or a frame it cannot use, ends the main loop
  // instead of turning the camera off. 0 (default) = the player's camera-off rule.
  int StopAtCameraEnd = 0;
  // Why the capture ended the loop under StopAtCameraEnd: 0 it did not, 1 no more frames,
  // 2 a frame that cannot be used (its size error has been printed).
  int CameraEnd = 0;

  // content
  int ContentNumber = 0;
  int MaxCount = 0;
  double frame_no = 0.0;

  // stepping and motion count
  int PlayState = 0;
  int Direction = 1;
  int PrevDirection = -1;
  int BurstCount = 0;
  int BurstFlip = 1;
  int BurstReset = 0;
  int KeyFrameMode = 4;
  int IdleCount = 0;
  int IdleLimit = 120;
  int WrapFlag = 1;
  int AutoPlayDirection = 1;
  std::array<double, kKeyFrames> KeyFrameNumber{};
  int KeyFrameIndex = 0;
  int MotionCountOff = 1;
  int BELL_FLAG = 1;
  int motion_count = 0;
  int AutoJumpFlag = 1;
  double VR_step = 0.0;
  char MotionBanner[10][100] = {};
  std::mt19937 Random{12345u};  // reseeded from the clock at start-up; tests seed it
};
extern PlayerState player;

// Frame table and image cache: 16.6 MB, so they live outside PlayerState.
// FrameImages[i] is non-empty exactly when FrameData[i].loaded is 1.
extern std::array<FrameRecord, kMaxFrames> FrameData;
extern std::array<cv::Mat, kMaxFrames> FrameImages;

// One random number in 0..INT_MAX from the player's generator.
int RandomNumber();

}  // namespace orv
