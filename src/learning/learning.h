// Gesture learning: gesture slots, templates, protocol maps, view-point selection, the learning
// passes and the one entry that runs the engine on a camera frame.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "common/limits.h"

namespace orv {

// One camera frame (gray: the capture's 320x240 grey frame; the player's LatestGrayFrame)
// through the gesture engine: the recognizer (DriveGRI), then, when the frame
// ended a judged motion sequence, the learning hand-off. learnGesture 0..7 stores the frame as
// samples of that gesture; -1 recognises.
void RunEngineFrame(int learnGesture, const std::array<uint8_t, kCamPixels>& gray);
// End of a judged motion sequence: learned length, reset, pass count-down.
void LearningHandOff(int learnGesture);

void InitGestureSlot(int g);
void ResetGestureTables();   // SampleHigh = -1, GestureInfo names "A".."H"
// Name of gesture g as every text shows it, "?" outside 0..7 (a stored name may lack its
// terminator: it is cut at its 20 characters).
std::string GestureName(int g);
void ResetTemplates();       // ViewTemplate/TemplateBackup = 1.0, ViewTemplateFlag = 0
void BuildKernelTables();    // MapKernel from OK_HIGH, RadialWeight
// ReadKB; with a knowledge base loaded: kernel and direction tables, templates and protocol
// maps of all gestures, a fresh recognizer, view-point selection. True when a knowledge base
// was loaded: the caller then switches the player to gesture-driven playback (PlayerMode 0).
bool PrepareEngine(int content);

// Start of teaching gesture pos_num: its learned data, weight and limits are cleared; every
// other gesture keeps what it learned.
void PrepareLearning();

// Protocol map of gesture g from its learning samples (all 8 channel blocks of g rebuilt).
void BuildProtocolMap(int g);
// Template weights of gesture g: learning form (1) rates the view points from the samples
// and refreshes TemplateBackup; plain form (0) restores TemplateBackup and flags the active
// view points. Both then set GestureWeight[g] and cap RateLimit[g].
void BuildTemplate(int g, int learningForm);
// View-point selection: ranks the 32 view points by their weights over all gestures (or by
// RoiMask), keeps NEROI of them (at most 32), sets RoiActive and MapEnable, recomputes the
// evidence limits from the review sums and starts a fresh sequence with PHASE -1.
void SelectViewPoints();

// The verdict on taught motion g: can the engine follow its progress? Its stored frames are
// matched against the rest of the knowledge base with each frame left out in turn (so it
// cannot find itself), in every active view, and their phase is estimated, smoothed and
// rescaled as the judgement does. Followability (0..100) = the share of the learned length the
// phase covers x the share of its movement that rises. With templates (after a pass), also
// the other gesture that gathers the most evidence on these frames and its ratio to g's own,
// which the judgement compares with MatchLimit. Results in learning.Followability, FollowedLow/
// High, NearestGesture and NearestRatio; nothing else is written. Prints the verdict.
void JudgeFollowability(int g);
// The verdict lines of gesture g (nothing when it was not measured); below the level, the
// warning.
void PrintFollowability(int g);
// Below this followability the phase does not follow the motion well enough to scrub by it.
constexpr int kFollowableLevel = 50;

// Optional hook that shows a learning text (pass countdown, "LEARNING ..."): the player prints
// it and draws it over its window. Unset, the engine prints the text itself.
extern void (*EngineShowText)(const char* text);
// Optional hook for the waits between learning passes: waits ms milliseconds while the player
// keeps reading keys and redrawing; false when the teaching is to be cancelled (the hand-off
// then stops counting in). Unset, the hand-off waits on the cycle timer (WaitOneSecond).
extern bool (*EngineWait)(int ms);

}  // namespace orv
