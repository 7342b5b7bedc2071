#pragma once
// Small helpers shared by the units of the chunk streams; nothing outside container/
// includes this.
#include <cstdint>
#include <cstring>

#include "core/endian.h"
#include "core/heap.h"

namespace qef {
namespace chunk_bytes {

// Copies `length` bytes out of a series of chunks into `out`, loading the next chunk
// (load() answers 0 or the stream's error) whenever the current one is used up. A
// chunk that holds nothing is passed over.
template <typename Bytes, typename Load>
int32_t CopyFromChunks(unsigned char* out, uint32_t length, const Bytes& chunk, uint32_t& position,
                       const uint32_t& chunk_length, Load load) {
  while (length > 0) {
    if (position == chunk_length) {
      int32_t r = load();
      if (r != 0) return r;
      continue;
    }
    uint32_t n = chunk_length - position < length ? chunk_length - position : length;
    std::memcpy(out, chunk + position, n);
    position += n;
    out += n;
    length -= n;
  }
  return 0;
}

inline void FreeBlock(unsigned char*& block, uint32_t size) {
  if (block != nullptr) {
    SecureWipe(block, size);  // decrypted content may be private
    HeapBlockFree(block);
    block = nullptr;
  }
}

}  // namespace chunk_bytes
}  // namespace qef
