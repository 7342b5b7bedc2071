#include "core/heap.h"

#include <cstring>

namespace qef {

void SecureWipe(void* data, size_t size) {
  if (data == nullptr) return;
#if defined(__GNUC__)
  // A plain memset, which runs at the library's speed (every Text and chunk buffer is
  // wiped when let go), kept by a barrier that tells the compiler the zeroed bytes may
  // still be read, so that it is not dropped as a store to memory about to be freed.
  std::memset(data, 0, size);
  __asm__ __volatile__("" : : "r"(data) : "memory");
#else
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  while (size--) *p++ = 0;
#endif
}

char* HeapCopyText(const char* text) {
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(HeapBlockAlloc(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

SecretBlock::SecretBlock(size_t size) : data_(static_cast<char*>(HeapBlockAlloc(size))), size_(size) {
  if (data_ != nullptr) std::memset(data_, 0, size_);
}

SecretBlock::~SecretBlock() {
  SecureWipe(data_, Size());
  HeapBlockFree(data_);
}

char* SecretBlock::Release() {
  char* data = data_;
  data_ = nullptr;
  return data;
}

}  // namespace qef
