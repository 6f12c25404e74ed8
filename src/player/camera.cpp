// Camera capture: the webcam (or a recording standing in for it), the grey buffers and the
// preview, and the switching sequences.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "common/display.h"
#include "common/limits.h"
#include "common/platform.h"
#include "player/player_state.h"
#include "player/player.h"
#include "kb/kb.h"
#include "player/motion.h"

namespace orv {

namespace {

// The capture lives here rather than in PlayerState: a test that resets the player state by
// assignment must not copy or drop an open device.
struct CameraSource {
  std::unique_ptr<cv::VideoCapture> capture;
  std::string recording;  // name the capture was opened with; empty for the device
  bool loop = true;
  std::string given;      // recording named by a tool (replays); replaces ORVANTE_CAMERA
  bool givenLoop = false;
  std::chrono::steady_clock::time_point due{};  // earliest time of the next recorded frame
  bool scaleAnnounced = false;  // the recording's scaling has been reported since it was opened
  std::chrono::steady_clock::time_point retryDue{};  // next attempt to reopen a lost camera

  bool scripted = false;
  bool scriptedOpen = false;
  bool scriptedLoop = false;
  std::vector<cv::Mat> frames;
  size_t next = 0;
};
CameraSource source;

// A recording is read by the file back-ends only, in the order OpenCV itself tries them. Left
// to cv::CAP_ANY, a name that does not open would also be offered to the hardware back-ends:
// the USB still-camera one alone probes for seconds (and its drivers, loaded and unloaded
// again, leave allocations behind that no leak checker can attribute). GStreamer is left out
// too: FFmpeg reads every file it would, and on a file that is no video GStreamer's own threads
// go on after the refusal and print assertion failures into the console, at random, after
// the tool's one-line reason.
bool OpenRecording(cv::VideoCapture& capture, const std::string& name) {
  for (const int api : {cv::CAP_FFMPEG, cv::CAP_IMAGES, cv::CAP_OPENCV_MJPEG})
    if (capture.open(name, api)) return true;
  return false;
}

void OpenSource() {
  if (source.scripted) {
    source.scriptedOpen = true;
    source.next = 0;
    return;
  }
  source.capture = std::make_unique<cv::VideoCapture>();
  source.recording = source.given.empty() ? EnvOr("ORVANTE_CAMERA", "") : source.given;
  source.scaleAnnounced = false;
  if (!source.recording.empty()) {
    source.loop = source.given.empty() ? EnvOr("ORVANTE_CAMERA_LOOP", "1") != "0" : source.givenLoop;
    if (!OpenRecording(*source.capture, source.recording))
      std::fprintf(stderr, "ERROR: cannot open the recording [%s]\n", source.recording.c_str());
  } else {
    source.capture->open(player.CamChan, cv::CAP_V4L2);
  }
  // Asked whether or not the open succeeded; a recording ignores them.
  source.capture->set(cv::CAP_PROP_FRAME_WIDTH, static_cast<double>(kCamW));
  source.capture->set(cv::CAP_PROP_FRAME_HEIGHT, static_cast<double>(kCamH));
  source.capture->set(cv::CAP_PROP_FPS, 60.0);
}

// A recording may come from any device (a phone video, a 640x480 clip): it is brought to the
// working size by area averaging, which keeps the motion sum of a region what it was, only
// spread over fewer pixels. A live camera that ignores the size request is still refused.
void FitRecordedFrame(cv::Mat& frame) {
  if (frame.cols == kCamW && frame.rows == kCamH) return;
  if (!source.scaleAnnounced) {
    std::printf("%s: the recording's frames are %dx%d; they are scaled to %dx%d.\n",
                source.given.empty() ? "ORVANTE_CAMERA" : source.given.c_str(), frame.cols, frame.rows, kCamW, kCamH);
    source.scaleAnnounced = true;
  }
  cv::Mat scaled;
  cv::resize(frame, scaled, cv::Size(kCamW, kCamH), 0, 0, cv::INTER_AREA);
  frame = std::move(scaled);
}

bool ReadSource(cv::Mat& frame) {
  if (source.scripted) {
    if (!source.scriptedOpen || source.frames.empty()) return false;
    if (source.next >= source.frames.size()) {
      if (!source.scriptedLoop) return false;
      source.next = 0;
    }
    source.frames[source.next++].copyTo(frame);
    return true;
  }
  if (!source.capture || !source.capture->isOpened()) return false;
  if (!source.recording.empty() && !display.headless) {
    // A camera delivers at its frame rate; a recording on screen keeps that pace (the
    // headless player runs it as fast as it can).
    const auto now = std::chrono::steady_clock::now();
    if (source.due > now) std::this_thread::sleep_until(source.due);
    player.CameraWaitMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - now).count();
    const double pace = player.CameraPace >= 1.0 ? player.CameraPace : 60.0;
    source.due = std::max(now, source.due) + std::chrono::microseconds(std::lround(1e6 / pace));
  }
  bool got = source.capture->read(frame) && !frame.empty();
  if (!got && !source.recording.empty() && source.loop) {
    // End of a recording: start it again. Reopening works for files and image sequences alike.
    source.capture->release();
    got = OpenRecording(*source.capture, source.recording) && source.capture->read(frame) && !frame.empty();
  }
  if (got && !source.recording.empty()) FitRecordedFrame(frame);
  return got;
}

void ReleaseSource() {
  if (source.scripted) {
    source.scriptedOpen = false;
    return;
  }
  source.capture.reset();
}

void ResetMotionState() {
  player.DifferenceSum = 0;
  player.GrayIndex = 0;
  player.BurstCount = 0;
  player.Direction = 1;
}

// The switch-off shared by the q command and a lost camera; they differ only in what follows.
void CloseCamera() {
  std::printf("\nNOW, TURNING OFF THE CAMERA DEVICE. WAIT A MOMENT...\n");
  player.CameraOn = 0;
  WithdrawMotion();  // nobody may go on following the last value of a camera that is gone
  player.PreviewMode = 2;
  if (CameraIsOpen()) {
    ReleaseSource();
    DisplayDestroy(kPreviewWindow);
  }
  std::fflush(stdout);
  DisplayWaitKey(1000);
}

std::chrono::steady_clock::duration RetryInterval() {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(player.CameraRetry));
}

// The camera is gone: the player runs on without it, and with a retry interval set it
// tries to get it back (a USB camera that was pulled out and plugged in again).
void CameraLost() {
  CloseCamera();
  std::printf("Done.\n\n");
  player.CameraWasLost = 1;
  if (player.CameraRetry > 0.0) {
    std::printf("The camera will be opened again every %.3g s until it answers.\n", player.CameraRetry);
    source.retryDue = std::chrono::steady_clock::now() + RetryInterval();
  }
  std::fflush(stdout);
}

// One quiet attempt per interval: an attempt that fails prints nothing, so a camera missing
// for days does not fill the log. Once it opens, the whole switch-on sequence runs as for q.
void RetryLostCamera() {
  if (player.CameraWasLost == 0 || player.CameraRetry <= 0.0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < source.retryDue) return;
  source.retryDue = now + RetryInterval();
  OpenSource();
  const bool back = CameraIsOpen();
  ReleaseSource();
  if (!back) return;
  std::printf("\nThe camera answers again.\n");
  TurnCameraOn();
}

void SizeError(const cv::Mat& f) {
  std::printf("\n\n");
  std::fflush(stdout);
  std::fprintf(stderr, "ERROR: The Size of Supposed Input Image does not Match.");
  std::fprintf(stderr, "nChannels = %d\n", f.channels());
  std::fprintf(stderr, "depth     = %d (bit)\n", static_cast<int>(f.elemSize1() * 8));
  std::fprintf(stderr, "width     = %d\n", f.cols);
  std::fprintf(stderr, "height    = %d\n", f.rows);
  std::fprintf(stderr, "ZAV_F_XMAX    = %d\n", kCamW);
  std::fprintf(stderr, "ZAV_F_YMAX    = %d\n", kCamH);
}

}  // namespace

void UseScriptedCamera(std::vector<cv::Mat> frames, bool loop) {
  source.capture.reset();
  source.scripted = true;
  source.scriptedOpen = false;
  source.scriptedLoop = loop;
  source.frames = std::move(frames);
  source.next = 0;
}

void UseDeviceCamera() {
  source = CameraSource{};
}

void UseRecordingCamera(const std::string& name, bool loop) {
  source = CameraSource{};
  source.given = name;
  source.givenLoop = loop;
}

bool CameraIsOpen() {
  if (source.scripted) return source.scriptedOpen;
  return source.capture && source.capture->isOpened();
}

int GrabCameraFrame(cv::Mat& frame) {
  if (!ReadSource(frame)) return 1;
  // Only 8-bit grey, BGR or BGRA frames can be converted; anything else is refused like a
  // frame of the wrong size (the message shows channels and depth).
  const int ch = frame.channels();
  if (frame.cols != kCamW || frame.rows != kCamH || frame.depth() != CV_8U || (ch != 1 && ch != 3 && ch != 4)) return 2;
  return 0;
}

RecordingInfo ProbeRecording(const std::string& name) {
  RecordingInfo info;
  cv::VideoCapture capture;
  // The back-ends that do not take the name say so in their own words; the caller says it once.
  const QuietStderr quiet;
  if (!OpenRecording(capture, name)) return info;
  info.opens = true;
  cv::Mat frame;
  if (capture.read(frame) && !frame.empty()) {
    info.width = frame.cols;
    info.height = frame.rows;
  }
  info.fps = capture.get(cv::CAP_PROP_FPS);
  info.frames = static_cast<long>(capture.get(cv::CAP_PROP_FRAME_COUNT));
  return info;
}

void ZAV_Capture() {
  if (player.CameraOn == 0) {
    RetryLostCamera();
    if (player.CameraOn == 0) return;
  }
  cv::Mat& frame = player.CameraFrame;
  const int got = GrabCameraFrame(frame);
  if (got == 1) {
    if (player.StopAtCameraEnd) {
      player.CameraEnd = 1;
      return;
    }
    std::printf("cvQueryFrame() failed in ZAV_Capture().\n");
    CameraLost();
    return;
  }
  const int ch = frame.channels();
  if (got == 2) {
    SizeError(frame);
    if (player.StopAtCameraEnd) {
      player.CameraEnd = 2;
      return;
    }
    CameraLost();
    return;
  }
  cv::Mat& gray = player.CameraGray;
  if (gray.rows != kCamH || gray.cols != kCamW || gray.type() != CV_8UC1) gray.create(kCamH, kCamW, CV_8UC1);
  if (ch == 3)
    cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
  else if (ch == 4)
    cv::cvtColor(frame, gray, cv::COLOR_BGRA2GRAY);
  else
    frame.copyTo(gray);
  // The grey conversion works pixel by pixel, so flipping its result equals flipping the
  // frame first, at a third of the bytes. Vertical and horizontal together: code -1.
  if (player.CamFlipV && player.CamFlipH)
    cv::flip(gray, gray, -1);
  else if (player.CamFlipV)
    cv::flip(gray, gray, 0);
  else if (player.CamFlipH)
    cv::flip(gray, gray, 1);

  player.GrayIndex &= 1;
  uint8_t* dst = player.GrayFrames[static_cast<size_t>(player.GrayIndex)].data();
  for (int r = 0; r < kCamH; ++r) std::memcpy(dst + r * kCamW, gray.ptr(r), kCamW);
  player.GrayIndex = 1 - player.GrayIndex;

  // The preview shows the buffer this call did not write: the previous capture.
  cv::Mat& preview = player.CameraPreview;
  if (preview.rows != kGriH || preview.cols != kGriW || preview.type() != CV_8UC1)
    preview.create(kGriH, kGriW, CV_8UC1);
  const uint8_t* src = player.GrayFrames[static_cast<size_t>(player.GrayIndex)].data();
  for (int r = 0; r < kGriH; ++r) {
    uint8_t* row = preview.ptr(r);
    for (int c = 0; c < kGriW; ++c) row[c] = src[(4 * r) * kCamW + 4 * c];
  }
  DisplayShow(kPreviewWindow, preview);
}

void TurnCameraOn() {
  std::printf("\nNOW, TURNING ON THE CAMERA DEVICE. WAIT A MOMENT...\n");
  player.CameraOn = 1;
  player.CameraWasLost = 0;
  ReadCameraSettings();
  if (CameraIsOpen()) ReleaseSource();
  OpenSource();
  if (CameraIsOpen()) {
    DisplayNamedWindow(kPreviewWindow, 0);
    DisplayPlaceBeside(kPreviewWindow, kPlayerWindow);
  }
  std::fflush(stdout);
  DisplayWaitKey(1000);
  std::printf("Done.\n");
  ResetMotionState();
}

void TurnCameraOff() {
  CloseCamera();
  player.CameraWasLost = 0;
  std::printf("Done.\n");
  ResetMotionState();
}

void ShutdownCamera() {
  ReleaseKnowledgeBase();
  if (CameraIsOpen()) ReleaseSource();
  std::fputs("\n OOO                O     O                 O\n", stdout);
  std::fputs("O                   O     O                 O\n", stdout);
  std::fputs("O      OO     OO     O   O                  O\n", stdout);
  std::fputs(" OO   O  O   O  O     O O    OOO  O    O    O\n", stdout);
  std::fputs("   O OOOOOO OOOOOO     O    O   O O    O     \n", stdout);
  std::fputs("   O O      O          O    O   O O   OO    O\n", stdout);
  std::fputs("OOO   OOOO   OOOO      O     OOO   OOO  O   O\n\n", stdout);
  std::fflush(stdout);
  DisplayWaitKey(500);
}

}  // namespace orv
