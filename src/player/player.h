// The motion player: camera, camera settings, content folders and frame data, stepping.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace orv {

// camera
void ZAV_Capture();
void TurnCameraOn();
void TurnCameraOff();
void ShutdownCamera();
// SetCamera3.txt: read at start-up and at every switch-on, so it can be edited live.
void ReadCameraSettings();
// Frame source of the camera. By default TurnCameraOn opens the device CamChan, or the
// recording named by ORVANTE_CAMERA (looping unless ORVANTE_CAMERA_LOOP=0). A scripted
// source replaces both: TurnCameraOn then "opens" it and each capture takes the next
// frame (BGR or grey); after the last frame it starts again when loop is set, otherwise
// it delivers nothing, like a camera that stopped.
void UseScriptedCamera(std::vector<cv::Mat> frames, bool loop = false);
void UseDeviceCamera();
// A recording named by a tool (a video file or an image-sequence pattern) instead of the
// device and of ORVANTE_CAMERA; opened by TurnCameraOn like the device.
void UseRecordingCamera(const std::string& name, bool loop);
bool CameraIsOpen();
// The next frame of the open camera as captured, before any flip: 0 a frame the capture can
// use (320x240, 8 bits; a recording of another size is scaled to it as the player scales it),
// 1 no frame, 2 a frame it cannot use. ZAV_Capture takes its frames here.
int GrabCameraFrame(cv::Mat& frame);
// What a recording is, opened on its own (it is not the camera): whether it opens, the size
// of its first frame (0 x 0 when it delivers none), its frame rate and frame count as the
// container states them (0 or less when unknown).
struct RecordingInfo {
  bool opens = false;
  int width = 0, height = 0;
  double fps = 0.0;
  long frames = 0;
};
RecordingInfo ProbeRecording(const std::string& name);

// content folders and frame data
void CheckContent();
std::string ContentFramePath(int contentNumber, int frame);  // ../S001/clip_00000.jpg
std::string FrameIndexFileName(int contentNumber);           // frame_data0001.dat
// Cache protocol: makes sure frame i is decoded in FrameImages[i]. False if i is out of
// range, has no path, or the file does not decode.
bool EnsureFrameLoaded(int i);
// The decode reduction (1, 2 or 4) for the content's full frame size as the player window
// shows it now; 1 before the first decode and while the window has no size.
int ShownReduction();
void ReleaseFrameCache();  // every cached image released, every loaded flag cleared
int CountLoadedFrames();
// Frame at frame_no, or -1 when frame_no points outside the content.
int CurrentFrame();

// Copying picture files into a content folder as numbered frames (batch copy, orvante-init).
struct FrameCopyLimits {
  size_t command = 0;  // bytes of the printed copy command that a name must stay below; 0 = none
  size_t name = 0;     // bytes a source name must stay below; 0 = none
};
struct FrameCopyResult {
  int copied = 0;  // files now in the folder
  int failed = 0;  // files not copied: unreadable, refused as too long, or no folder
};
// Copies the files, in ascending byte order of their names, into `folder` as the next free
// clip_NNNNN.jpg numbers; existing clips are never overwritten and a failed copy still uses up
// its number. Prints "EXECUTING: copy ..." per copy and names each failure on stderr; a folder
// that does not exist is named once and nothing is copied.
FrameCopyResult CopyFramesToContent(std::vector<std::string> names, const std::string& folder,
                                    const FrameCopyLimits& limits = {});
// Frames the folder scan would find in `folder` (clip_00000.jpg ... clip_25000.jpg, at most 22,000).
int CountContentFrames(const std::string& folder);
constexpr int kLastScannedNumber = 25000;

// Pictures and videos made into numbered frames of a content (orvante-init). A source is what
// the picture reader decodes, else what the video reader's FFmpeg back end opens as a video.
struct ImportOptions {
  int every = 1;       // keep every Nth decoded frame of a video, 1..1,000,000
  double fps = 0;      // keep frames at this many per second of the video's time; 0 = all
  int height = 0;      // frames and pictures scaled to this many pixels high, proportions kept; 0 = as they are
  double from = 0;     // seconds into each video where keeping starts, >= 0
  double to = -1;      // seconds into each video where keeping stops (exclusive); < 0 = the end
  int quality = 95;    // JPEG quality of every frame written, 1..100
};
struct ImportSource {
  std::string name;       // the file as named on the command line
  bool video = false;     // decoded frame by frame; else one picture
  bool jpeg = false;      // a JPEG picture: copied byte for byte unless --height changes it
  int width = 0;          // pixels of a frame as shown (after the rotation)
  int height = 0;         // pixels of a frame as shown (after the rotation)
  double fps = 0;         // frames per second the container announces; 0 when unknown
  double frames = 0;      // frames the container announces (an estimate), 0..1e9; 0 when unknown
  int rotation = 0;       // degrees counter-clockwise that turn a decoded frame upright: 0, 90, 180, 270
};
// Opens `name` as a picture, else as a video; false with the reason when it is neither.
bool ProbeImportSource(const std::string& name, ImportSource* source, std::string* why);
// Frames a source is expected to give with these options (1 for a picture).
double EstimateKeptFrames(const ImportSource& source, const ImportOptions& options);
// Makes the sources, in the order given, into the next free clip_NNNNN.jpg numbers of
// `content`. Everything goes first into `content` + ".staging" and is moved into place
// only when every source has been read, with SIGINT, SIGTERM and SIGHUP blocked during the
// moves. An interrupt, a read or write error, or more frames than a content holds leaves
// `content` as it was and no staging folder; the reason is printed and false returned.
bool ImportToContent(const std::vector<ImportSource>& sources, const std::string& content,
                     const ImportOptions& options, int* added);
// A staging folder that an import cut short (a power cut) left beside `content` is removed,
// with a line.
void RemoveLeftoverStaging(const std::string& content);

// stepping and motion count
void StepPlayer();
// The burst lengths the main loop sets every cycle (BurstFlip, BurstReset) with the camera on.
constexpr int kBurstFlipCameraOn = 3, kBurstResetCameraOn = 1;
// The end of a burst on its counter: true when it was long enough to turn the direction
// (count > flip); the count starts again when above reset.
bool EndBurst(int* count, int flip, int reset);
// Lengths in cycles of the bursts that turn the direction when the motion values `sums` meet
// PlayState 1 with the camera on and the given threshold, in their order.
std::vector<int> TurningBursts(const std::vector<int>& sums, int threshold);
void MoveForward(double s);
void MoveBackward(double s);
// Big-digit glyphs of the motion-count banner: 8 rows per digit, MSB = leftmost column.
extern const std::array<std::array<uint8_t, 8>, 10> DigitGlyphs;

}  // namespace orv
