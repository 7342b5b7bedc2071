// Heap blocks on Windows: fixed blocks of the global memory allocator.
// Only this file and heap_posix.cpp allocate them.
#include <windows.h>

#include "core/heap.h"

namespace qef {

void* HeapBlockAlloc(size_t size) {
  HGLOBAL h = GlobalAlloc(GMEM_FIXED, size == 0 ? 1 : size);
  if (h == nullptr) return nullptr;
  return GlobalLock(h);
}

void HeapBlockFree(void* block) {
  if (block == nullptr) return;
  HGLOBAL h = GlobalHandle(block);
  if (h != nullptr) GlobalFree(h);
}

}  // namespace qef
