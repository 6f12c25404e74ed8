#include "common/tables.h"

#include <cstdint>
#include <cstring>

namespace orv {

namespace {
constexpr size_t kPage = 4096;
const unsigned char kZeroPage[kPage] = {};
}  // namespace

void ClearTable(void* data, size_t bytes) {
  // Reading an untouched page maps the system's shared zero page: it stays untouched.
  auto* p = static_cast<unsigned char*>(data);
  while (bytes > 0) {
    // Up to the next page boundary, so that a dirty page is written whole and once.
    const size_t toBoundary = kPage - reinterpret_cast<uintptr_t>(p) % kPage;
    const size_t n = bytes < toBoundary ? bytes : toBoundary;
    if (std::memcmp(p, kZeroPage, n) != 0) std::memset(p, 0, n);
    p += n;
    bytes -= n;
  }
}

}  // namespace orv
