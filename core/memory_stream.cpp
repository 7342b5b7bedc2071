#include "core/memory_stream.h"

#include <cstring>

#include "core/heap.h"
#include "core/result.h"

namespace qef {

MemoryStream::~MemoryStream() { FreeWritten(); }

void MemoryStream::FreeWritten() {
  HeapBlockFree(write_data_);
  write_data_ = nullptr;
  write_size_ = write_cap_ = 0;
}

int32_t MemoryStream::OpenRead(const void* data, uint32_t size, const StreamParams* params) {
  FreeWritten();
  int32_t r = Open(kModeReading, params);
  read_data_ = static_cast<const unsigned char*>(data);
  read_size_ = data != nullptr ? size : 0;
  read_pos_ = 0;
  return r;
}

int32_t MemoryStream::OpenWrite(const StreamParams* params) {
  FreeWritten();
  read_data_ = nullptr;
  read_size_ = read_pos_ = 0;
  return Open(kModeWriting, params);
}

int32_t MemoryStream::Read(void* buffer, uint32_t length) {
  if (CheckRead(buffer, length) != 0) return error_;
  if (read_size_ - read_pos_ < length) {
    uint32_t rest = read_size_ - read_pos_;
    if (rest > 0) std::memcpy(buffer, read_data_ + read_pos_, rest);
    read_pos_ = read_size_;
    error_ = kShortRead;
    return error_;
  }
  std::memcpy(buffer, read_data_ + read_pos_, length);
  read_pos_ += length;
  return error_;
}

int32_t MemoryStream::Write(const void* buffer, uint32_t length) {
  if (CheckWrite(buffer, length) != 0) return error_;
  uint64_t need = static_cast<uint64_t>(write_size_) + length;
  if (need > 0xFFFFFFFFu) return error_ = kOutOfMemory;
  if (need > write_cap_) {
    uint64_t cap = write_cap_ < 4096 ? 4096 : static_cast<uint64_t>(write_cap_) * 2;
    while (cap < need) cap *= 2;
    if (cap > 0xFFFFFFFFu) cap = need;
    auto* grown = static_cast<unsigned char*>(HeapBlockAlloc(static_cast<size_t>(cap)));
    if (grown == nullptr) return error_ = kOutOfMemory;
    if (write_size_ > 0) std::memcpy(grown, write_data_, write_size_);
    HeapBlockFree(write_data_);
    write_data_ = grown;
    write_cap_ = static_cast<uint32_t>(cap);
  }
  std::memcpy(write_data_ + write_size_, buffer, length);
  write_size_ += length;
  return error_;
}

}  // namespace qef
