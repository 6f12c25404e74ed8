// Clearing the large fixed tables without making them resident.
#pragma once
#include <cstddef>

namespace orv {

// Sets `bytes` bytes at `data` to zero, writing only the pages that hold something else. A
// static table starts zero and costs no memory until first written; a plain memset at set-up
// would make all of it resident although nothing may ever use it.
void ClearTable(void* data, size_t bytes);
template <typename T>
void ClearTable(T& table) {
  ClearTable(&table, sizeof table);
}

}  // namespace orv
