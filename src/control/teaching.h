// The operator's teaching: the learning keys and entries, the stillness check, the save, the
// cancel with its snapshot, and the end-of-cycle share of automatic learning (teaching.cpp,
// teaching_cancel.cpp, auto_learning.cpp).
#pragma once
#include <string>

namespace orv {

// --- the learning entries, keys and save (teaching.cpp) ---

// The entries prepare the engine for teaching; with interactive false (replays of recordings)
// they skip the countdown, the stillness check and every wait. Each takes the snapshot that a
// cancel restores (when the teaching has none yet). false: cancelled during the count-in
// (control.CancelAsked is set; CancelPoint restores and pauses).
// Standard motion of gesture g (0..7): the next motion sequence becomes its learned motion
// (control.LearnGesture = g). Switches to gesture-driven playback.
bool StandardMotionEntry(int g, bool interactive);
// Similar-motion passes of gesture g (0..7; it becomes pos_num): the next `passes` judged
// motion sequences are learning passes, then their review runs. Switches to gesture-driven
// playback.
bool SimilarMotionEntry(int g, int passes, bool interactive);
// Waits until the performer stands still (30 rounds of at most 10 captured frames), reading
// keys and redrawing the view once a frame. false: cancelled.
bool StillnessCheck();
// WriteKB, unless learning passes, a review or a standard motion are still running or
// nothing has been taught; then a one-line message and false. Names the files it wrote.
bool SaveKnowledgeBase();
// Keys of the operator's learning commands (0..7, g, s, w, a); false for any other key.
bool LearningKey(int key);
void ShowLearningKeys();
// Gesture g (0..7) has a standard motion: a first sample in some view.
bool HasStandardMotion(int g);
// A standard motion, learning passes or a review are still to run.
bool LearningPending();
// The teaching state in words ("" when there is nothing to say): "get ready — teaching [A] in
// 3", "STAND STILL — 120 pixels still change", "GO — perform [A]", "learned [A]: 41 frames",
// "pass 2 of 3 — perform [A] again", "review — perform [A] once more", "limits of [A] set",
// "saved HOLVA_data-1-1..4.dat", "cancelled", "refused: <why>". The operator view draws it and
// the remote status sends it, so both always say the same. UTF-8 (the dash is U+2014).
std::string TeachingStateText();

// --- a teaching in progress: keys and waits (teaching.cpp) ---
// True while a teaching runs: an entry counts in, a standard motion or passes are awaited, a
// review runs, or automatic learning has steps left.
bool TeachingActive();
// The one key poll of the player window, in the cycle and in every wait of a teaching: waits up
// to ms. While a teaching holds the keyboard (camera on, or a review) every key and click goes
// to TeachingKey and 255 (no key) is returned; so does, during any teaching, a key that the
// command table lets act then (ESC, which asks for the cancel). Otherwise keys
// held back come first, one a call, in the order they came.
int PollKey(int ms);
// A key that came while a teaching runs, from the window or from elsewhere (a remote ESC): ESC
// asks for the cancel, any other key waits in control.HeldKeys until the teaching has ended.
void TeachingKey(int key);
// Waits ms milliseconds reading keys and redrawing the view at least every 50 ms. onClock:
// the headless display waits too (else it answers at once, as its key waits do). false: a
// cancel was asked.
bool TeachingWait(int ms, bool onClock);
// The hand-off's wait between passes (the engine's EngineWait): restarts the cycle timer as
// WaitOneSecond does and returns at once when timer.SkipWaits is set.
bool HandOffWait(int ms);

// --- cancel and snapshot (teaching_cancel.cpp) ---
// What a teaching of gesture g may change, kept until it ends; an entry takes it, except in
// automatic learning once its first step has (its steps are one teaching).
void TakeSnapshot(int g);
// The teaching has ended: what it did stays.
void DropSnapshot();
// Ends the teaching in progress and puts back what it changed (the snapshot taken at its start:
// learning state, the gesture's samples, protocol map, pattern records and pass frames, the
// player mode, the gesture being taught); passes a knowledge base asked for end as well.
void CancelTeaching();
// Where a cancel can be done: when one was asked, CancelTeaching and then the pause screen, as
// ESC always does. false: the program is to end.
bool CancelPoint();
// Start of a cycle: passes a knowledge base asked for get their snapshot and the view.
void TeachingCycleStart();

// --- automatic learning and its calibration (auto_learning.cpp) ---
// End-of-cycle share of automatic learning (after ClearJudgement).
void AutoLearningStep();
// A frame the stillness check judged still: its grey difference is kept for the calibration.
void KeepStillValue();

// --- the end of a cycle (teaching.cpp) ---
// Once a cycle after the stepping: a console line per milestone (standard motion learned, pass
// k of N ended, review ended with the new limits), the state words, the view's off-timer and
// the snapshot's release when the teaching has ended.
void TeachingAfterStep();

}  // namespace orv
