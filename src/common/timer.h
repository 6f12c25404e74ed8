// The cycle timer (one pair of global time stamps shared by the loop, the engine and the
// learning code) and the array-index guard.
#pragma once

namespace orv {

void StartTimer();
// Frames per second since StartTimer (capped at 999; 999 also for a zero interval).
double StopTimer();
// Waits one second on the timer (returns at once when app.SkipWaits is set); 0.
int WaitOneSecond();
double ElapsedSeconds(long long startSec, long long startUsec, long long sec, long long usec);
// s itself; a negative s rings, prints the illegal-index line and waits a second, five times.
int CheckIndex(int s);

}  // namespace orv
