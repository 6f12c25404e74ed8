// The player window, the display step (the frame at frame_no shown) and the key-frame step.
#pragma once
#include <opencv2/highgui.hpp>

namespace orv {

// The player window with the given flags; mouse events go to onMouse.
void CreatePlayerWindow(int flags, cv::MouseCallback onMouse);
bool DisplayFrame();   // false: a frame image could not be loaded, the loop ends
void ScoreKeyFrames();

}  // namespace orv
