// Player state: camera and its settings, content and frame display, motion measure and the
// shared section, the motion player's stepping and key frames.
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
  // Microseconds the last read of a recorded camera slept to keep that pace; 0 when it did not
  // (headless, live camera). The cycle log leaves it out of the cycle's own time.
  int64_t CameraWaitMicros = 0;
  int CameraWasLost = 0;  // 1 from a loss until the camera is back or q switches it

  // ---- camera settings (SetCamera3.txt) and the motion threshold ---------------
  int CamFlipV = 0;     // non-zero: camera frames are turned upside down before use
  int CamFlipH = 1;     // non-zero: camera frames are mirrored left-right before use
  int CamChan = 0;      // camera number to open (/dev/videoN); also picks the shared word 1+n
  int CamOnMemory = 1;  // frame images kept in the cache; always 1 whatever the file says
  int ZAV_threshold = 11500;  // threshold as kept in ZAV_THRESHOLD.dat (v/V change it by
                              // 76,800 / (SampleStep^2 * 100), 48 at step 4)
  // Threshold the motion player compares DifferenceSum with; replaced by ZAV_threshold at
  // every command step. 153600 / (SampleStep * SampleStep), set again by the loop set-up.
  int VR_threshold = 9600;
  int SampleStep = 4;          // pixel grid step of the motion measure, 1..320

  // ---- start-up and main loop ----------------------------------------------------
  int LinkSlot = 1;  // ArgName slot that receives a frame's link-image path (display step)
  // Interface images from the working directory, 8-bit BGR; empty when the file is missing.
  // The side pair (to_left.jpg, to_right.jpg) is replaced by a frame's link image and shown
  // by no one. (The pause screen's image is the operator commands': control.PauseImage.)
  cv::Mat SideImageLeft, SideImageRight;
  int PlayerMode = 1;       // 1 motion player (StepPlayer), 0 gesture-driven (GestureStep);
                            // 0 once the engine preparation has loaded a knowledge base
  int PendingKey = 0;       // key code 1..255 injected by the mouse or a random jump, run at
                            // the next command step instead of the typed key; 0 = none
  int PreviewMode = 2;      // 1: the preview shows the recognizer's 80x60 frame; other values
                            // leave it to the capture. Set to 2 after start-up and camera off
  cv::Mat CameraPreview;    // 80x60 grey preview image, created by the set-up
  // Set-up failures that end the process (no shared section, no content) end it with this
  // code: 0 is the player's own rule; a tool for which they are failures sets its own.
  int SetUpFailureExit = 0;
  // 1 = the shared section is this process's own, without a name: a replay or a tuning run in
  // an installation's working directory neither clears nor feeds the installation's motion
  // values. 0 (default) = the section SharedMemoryName() names, shared with the other copies.
  int PrivateSection = 0;

  // ---- motion measure and shared section ---------------------------------------
  int DifferenceSum = 0;  // motion of this cycle: sum of |grey difference| of the two camera
                          // buffers on a SampleStep grid (0..76,800*255); without camera the
                          // sum the other copies publish (SI.DiffSum), or 0
  // This process's copy of the 256 words of the shared section: word 0 SI.DiffSum (sum of
  // words 1..32, 32-bit wrap-around), word 1+n the motion of the copy using camera n (0..31),
  // words 33..255 unused. Copied in and out whole; the section itself is little-endian.
  std::array<int32_t, kSharedWords> SharedMirror{};
  volatile int32_t* SharedView = nullptr;  // mapped section, kept for the life of the process
  int SharedSize = kSharedSize;            // bytes of the section (1024)
  // Word (1..32) this copy's camera last published its value in; 0 = none. The word is set
  // back to 0 when the camera goes off or the copy ends, so nobody follows a stale value.
  int PublishedWord = 0;
  // The liveness section beside it (`<name>.alive`): record c (little-endian 64 bits) names the
  // process that last wrote word 1+c as process id (low 22 bits) and start time in clock ticks
  // since boot (high 42 bits), so a reused id is not taken for the writer; 0 = no record (older
  // builds, tests, remote values), which counts as alive. A word whose writer has ended counts 0.
  volatile uint64_t* AliveView = nullptr;
  uint64_t OwnAliveRecord = 0;  // this process's record, formed when the sections are opened

  // ---- frame display and key-frame detection -------------------------------------
  double RedrawMark = -1.0;  // frame_no shown last; -1.0 forces the next display step to draw
  int SameFrameCount = 0;    // display steps in a row that showed the same frame
  int flip_mode = 0;         // 0 as stored, 1 mirrored left-right, 2 upside down (file only)
  // Revisit score per frame: +1.0 on each arrival, -1/30 per cycle, never below 0. Above 5.0
  // the frame counts as a key frame (KeyFrameMode decides what follows).
  std::array<double, kMaxFrames> FrameMotion{};
  double ScorePrevFrame = 0.0;  // frame_no at the last revisit increment
  // Scores outside [ScoreLow, ScoreHigh) are all 0, so the per-cycle decay and the
  // search skip them. Whoever writes a non-zero score widens the range.
  int ScoreLow = 0, ScoreHigh = kMaxFrames;
  // Replay period, frames StartFrameNum..EndFrameNum: bounds gesture-driven playback and the
  // z/x steps while StartFrameNum < EndFrameNum and one of them is above 0; 0/0 = none.
  int StartFrameNum = 0, EndFrameNum = 0;

  // The picture the display step showed last (a reference to the frame cache or the mirror
  // scratch, not a copy); the operator view is drawn on a copy of it.
  cv::Mat ShownFrame;
  // Operator view: 0 off, 1 on by the o key (stays until o), 2 on by a teaching (goes off
  // kViewAutoOffSeconds after the last teaching cycle, or by o).
  int OperatorView = 0;
  long FrameChanges = 0;  // display steps that showed another frame since the set-up
  int ImageShift = 0;          // horizontal shift of the shown frame in pixels (Z/X), 0 = none
  cv::Mat ShiftedImage;        // last shifted copy (also the frame's cache image meanwhile)

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

// Command-line slots: 22,000 NUL-terminated names of 250 bytes (slot 0 the program path,
// slot k the k-th argument, cut at 249 bytes). Kept apart from PlayerState because of its size
// (5.5 MB must not be built on the stack by a reset).
using NameSlot = std::array<char, kNameSize>;
extern std::array<NameSlot, kMaxFrames> ArgName;

// Frame table and image cache: 16.6 MB, so they live outside PlayerState. Records
// 0..MaxCount-1 are the frames in display order. FrameImages[i] holds the decoded BGR image
// exactly when FrameData[i].loaded is 1; at most one frame is cached at a time.
extern std::array<FrameRecord, kMaxFrames> FrameData;
extern std::array<cv::Mat, kMaxFrames> FrameImages;

// One random number in 0..INT_MAX from the player's generator.
int RandomNumber();

// The grey frame of the latest capture (320x240, row-major): what the gesture engine is fed.
inline const std::array<uint8_t, kCamPixels>& LatestGrayFrame() {
  return player.GrayFrames[1 - (player.GrayIndex & 1)];
}

}  // namespace orv
