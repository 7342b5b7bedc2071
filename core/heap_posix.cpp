// Heap blocks on POSIX: the C heap. Only this file and heap_win32.cpp allocate them.
#include <cstdlib>

#include "core/heap.h"

namespace qef {

void* HeapBlockAlloc(size_t size) { return std::malloc(size == 0 ? 1 : size); }

void HeapBlockFree(void* block) { std::free(block); }

}  // namespace qef
