#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/tables.h"

// Every byte of the range becomes zero, whole pages and partial ones at either end alike, nothing
// outside it changes, and whole pages are handed back rather than written.
TEST(ClearTable, ZeroesExactlyItsRangeAndWritesNoWholePage) {
  constexpr size_t kPage = 4096, kBlock = 8 * kPage;
  auto* block = static_cast<unsigned char*>(std::aligned_alloc(kPage, kBlock));
  for (const auto& [from, bytes] : {std::pair<size_t, size_t>{100, 5 * kPage}, {kPage, 3 * kPage}, {10, 200},
                                    {kPage - 8, 16}, {kPage - 8, kPage + 16}, {0, kBlock}}) {
    std::memset(block, 0x5a, kBlock);
    orv::ClearTable(block + from, bytes);
    for (size_t i = 0; i < kBlock; ++i)
      ASSERT_EQ(block[i], i >= from && i < from + bytes ? 0 : 0x5a) << from << "+" << bytes << " at " << i;
  }
  orv::ClearTable(block, kBlock);  // zero already: stays untouched
  unsigned char resident[kBlock / kPage];
  ASSERT_EQ(::mincore(block, kBlock, resident), 0);
  for (unsigned char r : resident) EXPECT_EQ(r & 1, 0);
  std::free(block);
}
