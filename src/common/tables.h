// Clearing the large fixed tables without making them resident.
#pragma once
#include <cstddef>

namespace orv {

// Sets `bytes` bytes at `data` (private anonymous memory: a static table or the heap) to zero.
// Whole pages are handed back to the system, neither read nor written; only the partial pages
// at both ends are compared and written when they hold something. A static table starts zero and
// costs no memory until first written; a plain memset at set-up would make all of it resident
// although nothing may ever use it, and on a kernel that fills huge pages on a read fault even a
// comparison would.
void ClearTable(void* data, size_t bytes);
template <typename T>
void ClearTable(T& table) {
  ClearTable(&table, sizeof table);
}

}  // namespace orv
