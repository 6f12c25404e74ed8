// The cycle timer (one pair of global time stamps shared by the loop, the engine and the
// learning code) and the array-index guard.
#pragma once
#include "common/platform.h"

namespace orv {

struct TimerState {
  TimeStamp TimerStart, TimerStop;  // the cycle timer's pair of stamps (monotonic clock)
  // 1 = nothing waits: WaitOneSecond returns at once, and learning starts without countdown or
  // stillness check. For replays of recorded footage, where a wait only costs time and a
  // stillness check would read frames meant for the cycles. 0 (default) = the player's waits.
  // Set by the replay and tuning runs; read by the timer, the teaching and the operator view.
  int SkipWaits = 0;
};
extern TimerState timer;

void StartTimer();
// Frames per second since StartTimer (capped at 999; 999 also for a zero interval).
double StopTimer();
// Waits one second on the timer (returns at once when timer.SkipWaits is set); 0.
int WaitOneSecond();
// Time from one stamp to a later one, signed: a later second with a smaller microsecond part
// borrows from the seconds instead of wrapping. The one rule for every interval of stamps.
int64_t ElapsedMicros(const TimeStamp& from, const TimeStamp& to);
double ElapsedSeconds(const TimeStamp& from, const TimeStamp& to);
double ElapsedSeconds(long long startSec, long long startUsec, long long sec, long long usec);
// s itself; a negative s rings, prints the illegal-index line and waits a second, five times.
int CheckIndex(int s);

}  // namespace orv
