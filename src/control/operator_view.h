// The operator view: the teaching state in words, a motion meter against the threshold, the
// camera state and, in gesture mode, each taught gesture's evidence and the judged gesture's
// phase, drawn over a copy of the shown frame. Off unless the o key or a teaching turns it on.
// Beside it, the learning texts drawn over the frame while the view is off.
#pragma once
#include <opencv2/core.hpp>

namespace orv {

// Key o: on (until o again) or off.
void ToggleOperatorView();
// A teaching starts: the view comes on and goes off again kViewAutoOffSeconds after the last
// teaching cycle. Replays (timer.SkipWaits: nobody watches) never turn it on.
void OperatorViewForTeaching();
// Shows the last shown frame with the view over a copy of it; nothing while the view is off.
void ShowOperatorView();
// The view drawn over a copy of base (8-bit, 1 or 3 channels; empty = a black 320x240 picture)
// into out, which is reused from call to call. The texts are drawn once into a cached layer and
// only copied while they stay the same.
void RenderOperatorView(const cv::Mat& base, cv::Mat& out);
// Prints a learning text on the console and shows it in the window (the operator view's state
// line when the view is on, else the text over the frame).
void ShowLearningText(const char* text);

}  // namespace orv
