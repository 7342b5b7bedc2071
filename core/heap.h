#pragma once
// Heap blocks: fixed, non-moving blocks shared by Text, values and arrays.
// On Windows they come from the global memory allocator, elsewhere from the C heap;
// callers cannot tell which.
#include <cstddef>

namespace qef {

// A block of exactly `size` bytes (content undefined), or nullptr when none can be had.
void* HeapBlockAlloc(size_t size);
// Gives a block back; nullptr is ignored.
void HeapBlockFree(void* block);

// Overwrites `size` bytes with zeros in a way the compiler may not drop.
void SecureWipe(void* data, size_t size);

// Duplicates a zero-terminated text into a new block of length + 1 bytes
// (nullptr in, nullptr out; nullptr when no block can be had).
char* HeapCopyText(const char* text);

}  // namespace qef
