#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/display.h"
#include "common/platform.h"
#include "common/timer.h"

namespace fs = std::filesystem;
using namespace orv;

TEST(Timer, ElapsedAcrossSecondBoundaryIsPositiveAndExact) {
  // 10.999900 -> 11.000100 is 200 microseconds, not ~4295 s.
  EXPECT_NEAR(ElapsedSeconds(10, 999900, 11, 100), 0.0002, 1e-12);
  EXPECT_NEAR(ElapsedSeconds(10, 5, 10, 5), 0.0, 1e-12);
  EXPECT_NEAR(ElapsedSeconds(5, 900000, 7, 100000), 1.2, 1e-12);
}

TEST(Timer, StopRightAfterStartIsCappedAt999) {
  StartTimer();
  const double r = StopTimer();
  EXPECT_GT(r, 0.0);
  EXPECT_LE(r, 999.0);
}
