#include "core/heap.h"

#include <cstring>

namespace qef {

void SecureWipe(void* data, size_t size) {
  if (data == nullptr) return;
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  while (size--) *p++ = 0;
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
