// Gesture-driven playback: the engine's judgement turned into the frame position.
#pragma once
#include <string>

namespace orv {

void GestureStep();
void GestureStatus();
// The two halves of GestureStep after the recognizer, on the cycle's result block:
// OK_VAR widening for judged gesture g, and the phase onto frame_no.
void AdaptOkLimit(int g);
void MapPhaseToFrame();
// The 103-character gauge of the status line (phase, acceleration, width, speed).
std::string GestureGauge(int phase, int length, int accel, int width, int speed);

}  // namespace orv
