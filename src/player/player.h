// Camera, content and motion player operations.
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace orv {

// camera
void ZAV_Capture();
void TurnCameraOn();
void TurnCameraOff();
void ShutdownCamera();

// content folders and frame data
void CheckContent();
std::string ContentFramePath(int contentNumber, int frame);  // ../S001/clip_00000.jpg
std::string FrameIndexFileName(int contentNumber);           // frame_data0001.dat
// Cache protocol: makes sure frame i is decoded in FrameImages[i]. False if i is out of
// range, has no path, or the file does not decode.
bool EnsureFrameLoaded(int i);
void ReleaseFrameCache();  // every cached image released, every loaded flag cleared
int CountLoadedFrames();

// stepping and motion count
void StepPlayer();
void MoveForward(double s);
void MoveBackward(double s);
// Big-digit glyphs of the motion-count banner: 8 rows per digit, MSB = leftmost column.
extern const std::array<std::array<uint8_t, 8>, 10> DigitGlyphs;

}  // namespace orv
