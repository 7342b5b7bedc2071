#pragma once
// The checksum of a stored item: CRC-32 (the polynomial and conventions of zlib's
// crc32), computed by libdeflate. It detects damage; it proves nothing about who wrote
// an archive.
#include <cstddef>
#include <cstdint>

#include "core/stream.h"

namespace qef {

// The CRC-32 of `crc` (0 to begin) continued over n more bytes.
uint32_t Crc32(uint32_t crc, const void* data, size_t n);

// Passes every byte through to the stream it is attached to, in either direction, and
// keeps the CRC-32 of the bytes that went through while it was on. Its error is the
// next stream's, or a failure stored on it.
class ChecksumTap : public FilterStream {
 public:
  int32_t Read(void* buffer, uint32_t length) override;
  int32_t Write(const void* buffer, uint32_t length) override;

  // Starts a checksum with the CRC-32 so far (of bytes already moved), or stops one.
  void Start(uint32_t crc) {
    crc_ = crc;
    on_ = true;
  }
  void Stop() { on_ = false; }
  uint32_t Value() const { return crc_; }

 private:
  bool on_ = false;
  uint32_t crc_ = 0;
};

}  // namespace qef
