#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/display.h"
#include "common/platform.h"
#include "common/tables.h"
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

// A background thread alone drops to nice 19 and carries its name; its processor clock counts
// its own work only, and can be read from another thread.
TEST(Platform, BackgroundThreadIsLoweredAloneAndItsClockCounts) {
  const int before = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
  int nice = 0, clock = -1;
  char name[16] = {};
  std::thread t([&] {
    EXPECT_TRUE(MakeBackgroundThread("orv-test"));
    nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    ::pthread_getname_np(::pthread_self(), name, sizeof name);
    clock = OwnThreadCpuClock();
    while (ThreadCpuMicros(clock) < 3000) {  // each read is a system call: work of its own
    }
  });
  t.join();
  EXPECT_EQ(nice, 19);
  EXPECT_STREQ(name, "orv-test");
  EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())), before);
  const int own = OwnThreadCpuClock();
  EXPECT_NE(own, -1);
  EXPECT_GE(ThreadCpuMicros(own), 0);
  EXPECT_EQ(ThreadCpuMicros(-1), -1);
}

// ClearTable zeroes exactly its range (partial pages at either end too) and hands whole pages back.
TEST(ClearTable, ZeroesExactlyItsRangeAndWritesNoWholePage) {
  constexpr size_t kPage = 4096, kBlock = 8 * kPage;
  auto* block = static_cast<unsigned char*>(std::aligned_alloc(kPage, kBlock));
  for (const auto& [from, bytes] : {std::pair<size_t, size_t>{100, 5 * kPage}, {kPage, 3 * kPage}, {10, 200},
                                    {kPage - 8, 16}, {kPage - 8, kPage + 16}, {kPage - 1, kPage + 2}, {0, kBlock}}) {
    std::memset(block, 0x5a, kBlock);
    orv::ClearTable(block + from, bytes);
    for (size_t i = 0; i < kBlock; ++i) ASSERT_EQ(block[i], i >= from && i < from + bytes ? 0 : 0x5a) << from << " " << i;
  }
  orv::ClearTable(block, kBlock);  // zero already (read as the zero page): nothing stays mapped
  unsigned char resident[kBlock / kPage];
  ASSERT_EQ(::mincore(block, kBlock, resident), 0);
  for (unsigned char r : resident) EXPECT_EQ(r & 1, 0);
  std::free(block);
}
