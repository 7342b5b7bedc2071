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

// A zero-filled block for a secret (a password as it is typed), wiped and freed with
// its owner on every path. Release hands the block to a new owner, which must wipe it
// before freeing it too.
class SecretBlock {
 public:
  explicit SecretBlock(size_t size);
  // Takes over a block another SecretBlock released, to wipe and free it in turn.
  SecretBlock(char* released, size_t size) : data_(released), size_(size) {}
  ~SecretBlock();
  SecretBlock(const SecretBlock&) = delete;
  SecretBlock& operator=(const SecretBlock&) = delete;

  // The block; null when none could be had.
  char* Data() const { return data_; }
  size_t Size() const { return data_ != nullptr ? size_ : 0; }
  char* Release();

 private:
  char* data_;
  size_t size_;
};

}  // namespace qef
