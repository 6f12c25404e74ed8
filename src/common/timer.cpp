// Cycle timer: one pair of global time stamps shared by the loop and the engine.
#include <cstdio>
#include <ctime>

#include "common/timer.h"
#include "common/platform.h"

namespace orv {

TimerState timer;

void StartTimer() { timer.TimerStart = NowStamp(); }

int64_t ElapsedMicros(const TimeStamp& from, const TimeStamp& to) {
  return (to.sec - from.sec) * 1000000 + (to.usec - from.usec);
}

double ElapsedSeconds(const TimeStamp& from, const TimeStamp& to) {
  return static_cast<double>(ElapsedMicros(from, to)) / 1000000.0;
}

double ElapsedSeconds(long long startSec, long long startUsec, long long sec, long long usec) {
  return ElapsedSeconds(TimeStamp{startSec, startUsec}, TimeStamp{sec, usec});
}

double StopTimer() {
  timer.TimerStop = NowStamp();
  const double e = ElapsedSeconds(timer.TimerStart, timer.TimerStop);
  if (e <= 0.0) return 999.0;  // coarse clock, or the clock was set back
  const double rate = 1.0 / e;
  return rate < 999.0 ? rate : 999.0;
}

int WaitOneSecond() {
  StartTimer();
  if (timer.SkipWaits) return 0;
  const timespec nap{0, 1000000};  // 1 ms: the wait stays a wait without burning a core
  while (StopTimer() > 1.0) nanosleep(&nap, nullptr);
  return 0;
}

int CheckIndex(int s) {
  if (s < 0) {
    for (int i = 0; i < 5; ++i) {
      Bell();
      std::printf("Argument s of the specified array has an illegal number( s<0 ).\n");
      WaitOneSecond();
    }
  }
  return s;
}

}  // namespace orv
