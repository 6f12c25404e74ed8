// Gesture recognition engine: per-frame driver and its parts.
#pragma once

namespace orv {

void DriveGRI(int learnGesture);
void ResetRecognition();
void FillDirectionTables();
// Main-loop set-up steps owned by the engine: empty trig caches, gesture names and
// sample limits, templates.
void ResetEngineCaches();

}  // namespace orv
