// ClearTable: every byte of the range ends zero, nothing outside it changes, and a page that
// held only zeros is never written (it would become resident memory of its own).
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/tables.h"

using namespace orv;

namespace {

constexpr size_t kPage = 4096;

// Whether the page at p is a private page of this process (written once), not the system's
// shared zero page that a read of an untouched page maps: bit 56 of /proc/self/pagemap.
bool PageWritten(const void* p) {
  std::FILE* f = std::fopen("/proc/self/pagemap", "rb");
  if (!f) return false;
  uint64_t entry = 0;
  const long at = static_cast<long>(reinterpret_cast<uintptr_t>(p) / kPage * sizeof entry);
  const bool ok = std::fseek(f, at, SEEK_SET) == 0 && std::fread(&entry, sizeof entry, 1, f) == 1;
  std::fclose(f);
  return ok && (entry >> 63 & 1) && (entry >> 56 & 1);
}

}  // namespace

TEST(ClearTable, ClearsAnUnalignedRangeToItsLastByteAndNothingBeyond) {
  // 8 pages; the range starts 100 bytes into page 1 and ends with the first byte of page 6,
  // so its first and last pieces are short and its last piece is a single byte.
  const size_t pages = 8;
  auto* base = static_cast<uint8_t*>(::mmap(nullptr, pages * kPage, PROT_READ | PROT_WRITE,
                                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(base, MAP_FAILED);
  uint8_t* begin = base + kPage + 100;
  uint8_t* end = base + 6 * kPage + 1;  // one past the last byte of the range
  const size_t bytes = static_cast<size_t>(end - begin);
  base[kPage + 99] = 0xAA;  // just before the range
  begin[0] = 1;             // first byte
  begin[kPage] = 2;         // inside page 2
  base[4 * kPage + 17] = 3; // a dirty page in the middle; page 3 stays untouched
  end[-1] = 4;              // the last byte, alone on page 6
  end[0] = 0xBB;            // just after the range

  ClearTable(begin, bytes);

  std::vector<size_t> nonzero;
  for (size_t i = 0; i < bytes; ++i)
    if (begin[i] != 0) nonzero.push_back(i);
  EXPECT_TRUE(nonzero.empty()) << nonzero.size() << " bytes left, first at " << nonzero[0];
  EXPECT_EQ(base[kPage + 99], 0xAA);
  EXPECT_EQ(end[0], 0xBB);
  // Pages 3, 5 and 7 held only zeros: a read maps them, no write makes them private.
  EXPECT_FALSE(PageWritten(base + 3 * kPage));
  EXPECT_FALSE(PageWritten(base + 5 * kPage));
  EXPECT_TRUE(PageWritten(base + 4 * kPage));  // the check itself sees a written page
  ::munmap(base, pages * kPage);
}
