#include "container/checksum.h"

#include <libdeflate.h>

namespace qef {

uint32_t Crc32(uint32_t crc, const void* data, size_t n) { return libdeflate_crc32(crc, data, n); }

int32_t ChecksumTap::Read(void* buffer, uint32_t length) {
  if (!BeginRead(buffer, length)) return error_;
  error_ = next_->Read(buffer, length);
  if (error_ == 0 && on_) crc_ = Crc32(crc_, buffer, length);
  return error_;
}

int32_t ChecksumTap::Write(const void* buffer, uint32_t length) {
  if (!BeginWrite(buffer, length)) return error_;
  if (on_) crc_ = Crc32(crc_, buffer, length);
  error_ = next_->Write(buffer, length);
  return error_;
}

}  // namespace qef
