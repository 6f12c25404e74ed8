#include "common/tables.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>

namespace orv {

namespace {
constexpr uintptr_t kPage = 4096;
const unsigned char kZeroPage[kPage] = {};

// Zeroes a piece of at most one page, writing it only when it holds something.
void ClearPiece(unsigned char* p, size_t n) {
  if (n > 0 && std::memcmp(p, kZeroPage, n) != 0) std::memset(p, 0, n);
}
}  // namespace

void ClearTable(void* data, size_t bytes) {
  auto* p = static_cast<unsigned char*>(data);
  const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
  const uintptr_t end = begin + bytes;
  const uintptr_t first = (begin + kPage - 1) & ~(kPage - 1);  // first whole page
  const uintptr_t last = end & ~(kPage - 1);                    // end of the last whole page
  if (first >= last) {
    for (uintptr_t a = begin; a < end;) {
      const uintptr_t next = (a & ~(kPage - 1)) + kPage;
      ClearPiece(reinterpret_cast<unsigned char*>(a), (next < end ? next : end) - a);
      a = next;
    }
    return;
  }
  // The whole pages are handed back to the system, which maps them as zero pages again: no page
  // is read or written, whatever the kernel does on a read (huge pages filled on a read fault
  // make a table resident by merely comparing it). Private anonymous memory only (the static
  // tables, the heap): there a dropped page reads as zeros. Should the advice fail, the pages
  // are compared and written as needed.
  ClearPiece(p, first - begin);
  ClearPiece(reinterpret_cast<unsigned char*>(last), end - last);
  if (::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED) == 0) return;
  for (uintptr_t a = first; a < last; a += kPage) ClearPiece(reinterpret_cast<unsigned char*>(a), kPage);
}

}  // namespace orv
