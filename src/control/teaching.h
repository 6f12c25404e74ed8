// The operator's teaching: the learning keys and entries, the stillness check, the learning
// texts over the window, the save, and the end-of-cycle share of automatic learning.
#pragma once
#include <string>

namespace orv {

// The entries prepare the engine for teaching; with interactive false (replays of recordings)
// they skip the countdown, the stillness check and every wait.
// Standard motion of gesture g (0..7): the next motion sequence becomes its learned motion
// (app.LearnGesture = g). Switches to gesture-driven playback.
void StandardMotionEntry(int g, bool interactive);
// Similar-motion passes of gesture pos_num: the next `passes` judged motion sequences are
// learning passes, then their review runs. Switches to gesture-driven playback.
void SimilarMotionEntry(int passes, bool interactive);
// Waits until the performer stands still (up to 30 x 10 captured frames).
void StillnessCheck();
// Prints a learning text on the console and draws it over the player window.
void ShowLearningText(const char* text);
// WriteKB, unless learning passes, a review or a standard motion are still running or
// nothing has been taught; then a one-line message and false.
bool SaveKnowledgeBase();
// Keys of the operator's learning commands (0..7, g, s, w, a); false for any other key.
bool LearningKey(int key);
// End-of-cycle share of automatic learning (after ClearJudgement).
void AutoLearningStep();
void ShowLearningKeys();
// The teaching state in words ("" when nothing is being taught): the operator view draws it
// and the remote status sends it, so both always say the same.
std::string TeachingStateText();

}  // namespace orv
