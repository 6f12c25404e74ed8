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
  int32_t loaded;         // 1 while the frame's image is in the cache (FrameImages), else 0
  char path[kNameSize];   // image file, NUL-terminated; empty = a frame that is never shown
  char http[kNameSize];   // link image shown as the side-image pair ("http[2]"); empty = none
  char file[kNameSize];   // attached image loaded by the display step ("file[3]"); empty = none
};
static_assert(sizeof(FrameRecord) == 756, "FrameRecord must match the 756-byte file record");
static_assert(offsetof(FrameRecord, path) == 4 && offsetof(FrameRecord, http) == 254 &&
              offsetof(FrameRecord, file) == 504, "FrameRecord field offsets");

struct PlayerState {
  // ---- camera ------------------------------------------------------------------
  int CameraOn = 0;  // 1 while the camera is used (captured every cycle); q toggles it
  cv::Mat CameraFrame;  // frame last captured (belongs to the capture, flipped in place)
  cv::Mat CameraGray;   // its grey conversion, 320x240 8-bit, kept for the program's life
  // The two latest grey camera frames, 320x240 row-major; the motion measure compares them.
  std::array<std::array<uint8_t, kCamPixels>, 2> GrayFrames{};
  int GrayIndex = 0;  // buffer the next capture writes, 0 or 1
  // Replays: 1 = the capture that gets no frame, or a frame it cannot use, ends the main loop
  // instead of turning the camera off. 0 (default) = the player's camera-off rule.
  int StopAtCameraEnd = 0;
  // Why the capture ended the loop under StopAtCameraEnd: 0 it did not, 1 no more frames,
  // 2 a frame that cannot be used (its size error has been printed).
  int CameraEnd = 0;
  // Seconds between attempts to open again a camera that was lost (unplugged, or it stopped
  // delivering), 0..3600 (ORVANTE_CAMERA_RETRY). 0 (default): a lost camera stays off until
  // q. A camera switched off by q is never reopened behind the operator's back.
  double CameraRetry = 0.0;
  // Frames per second a recorded camera delivers in the real window, 1..1000
  // (ORVANTE_CAMERA_FPS; a live camera's own rate is asked as 60). Headless runs are unpaced.
  double CameraPace = 60.0;
  int CameraWasLost = 0;  // 1 from a loss until the camera is back or q switches it
  // 1: the main loop switches the camera on before its first cycle, as q would, so that an
  // installation started by the computer plays without anyone at the keyboard
  // (ORVANTE_CAMERA_ON=1). 0 (default): the camera starts off.
  int CameraAtStart = 0;

  // ---- content --------------------------------------------------------------------
  int ContentNumber = 0;  // current content, 0-based: 0 plays ../S001
  int MaxCount = 0;       // frames of the content, 0..22,000
  double frame_no = 0.0;  // frame position, fractional; the shown frame is its integer part
  // Frames are decoded at the size they are shown: the reduction of the last decoded frame, 1
  // (full size), 2 or 4 (the JPEG reader's reduced decode; only in a window that shows the
  // picture at half its size or less), and that frame's full size in pixels (empty before the
  // first decode).
  int FrameReduction = 1;
  cv::Size FullFrameSize;

  // ---- stepping and motion count ---------------------------------------------------
  // Stepping rule of StepPlayer (the loop turns 0 into 1): 1 burst-driven (move VR_step per
  // cycle above the threshold, reverse after a burst), 2 speed-driven (step grows with the
  // motion, up to 10 frames), 3 move while there is motion or no camera, 4 always move,
  // bursts still reverse, 5 continuous play in AutoPlayDirection. Other values: no stepping.
  int PlayState = 0;
  int Direction = 1;       // 1 forward, 0 backward
  int PrevDirection = -1;  // Direction at the last motion-count check; a change counts a motion
  int BurstCount = 0;      // cycles above the threshold in the current burst
  // A burst longer than BurstFlip cycles reverses the direction when it ends; one longer than
  // BurstReset restarts the count (shorter ones carry into the next burst). The loop sets them
  // every cycle: 3 and 1 with the camera on, 5 and 2 with it off.
  int BurstFlip = 1;
  int BurstReset = 0;
  // What happens after IdleLimit quiet cycles: 0 nothing, 1 continuous play (PlayState 5)
  // until the next motion, 2 go to the current key frame, 3 to the next key frame, 4 to a
  // random later one. The key-frame step uses it too: 1 records often revisited frames as key
  // frames, 2 and 4 jump forward along them, 3 back.
  int KeyFrameMode = 4;
  int IdleCount = 0;     // cycles in a row without motion above the threshold
  int IdleLimit = 120;   // IdleCount above which the idle action runs
  int WrapFlag = 1;      // 1 stepping past one end continues at the other; 0 stops at the end
  int AutoPlayDirection = 1;  // direction of continuous play: 1 forward, 0 backward (x / z set it)
  std::array<double, kKeyFrames> KeyFrameNumber{};  // key-frame positions; 0.0 = empty entry
  int KeyFrameIndex = 0;  // ring position in KeyFrameNumber, 0..1279
  int MotionCountOff = 1;  // 1: motion counting off (the key-frame step runs); 0: direction
                           // changes are counted with a bell and a big-digit banner
  int BELL_FLAG = 1;       // ring the console bell at each counted motion
  int motion_count = 0;    // counted motions (H clears)
  int AutoJumpFlag = 1;    // with VR_step 0: allow random jumps (x, z or j) at direction changes
  double VR_step = 0.0;    // frames moved per cycle of motion; at 0.0 frames stand still and
                           // each direction change mirrors the picture instead
  char MotionBanner[10][100] = {};  // rows of the big-digit motion count, 80 columns used
  std::mt19937 Random{12345u};  // reseeded from the clock at start-up; tests seed it
};
extern PlayerState player;

// Frame table and image cache: 16.6 MB, so they live outside PlayerState. Records
// 0..MaxCount-1 are the frames in display order. FrameImages[i] holds the decoded BGR image
// exactly when FrameData[i].loaded is 1; at most one frame is cached at a time.
extern std::array<FrameRecord, kMaxFrames> FrameData;
extern std::array<cv::Mat, kMaxFrames> FrameImages;

// One random number in 0..INT_MAX from the player's generator.
int RandomNumber();

}  // namespace orv
