#pragma once
// A stream over bytes in memory: reading from a caller's buffer, or writing into a
// growing buffer that the stream owns.
#include <cstdint>

#include "core/stream.h"

namespace qef {

class MemoryStream : public Stream {
 public:
  MemoryStream() = default;
  ~MemoryStream() override;

  // Reads the caller's bytes, which must outlive the stream's reading.
  int32_t OpenRead(const void* data, uint32_t size, const StreamParams* params);
  int32_t OpenWrite(const StreamParams* params);
  int32_t Read(void* buffer, uint32_t length) override;         // 208 past the end
  int32_t Write(const void* buffer, uint32_t length) override;  // 101 when memory runs out

  // What was written so far (writing) or the bytes being read; written bytes stay
  // readable after Close, until the next open.
  const unsigned char* Data() const { return write_data_ != nullptr ? write_data_ : read_data_; }
  uint32_t Size() const { return write_data_ != nullptr ? write_size_ : read_size_; }
  uint32_t Position() const { return read_pos_; }

 private:
  void FreeWritten();

  const unsigned char* read_data_ = nullptr;
  uint32_t read_size_ = 0;
  uint32_t read_pos_ = 0;
  unsigned char* write_data_ = nullptr;
  uint32_t write_size_ = 0;
  uint32_t write_cap_ = 0;
};

}  // namespace qef
