// The reading side of the payload block, which the stub links: no standard containers,
// so that it pulls nothing of the C++ library into the stub.
#include "sfx/payload.h"

#include <cstring>

#include "core/result.h"

namespace qef {

namespace {

uint32_t ReadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// True when [offset, offset + length) lies inside a block of `size` bytes.
bool Fits(uint32_t offset, uint32_t length, uint32_t size) {
  return static_cast<uint64_t>(offset) + length <= size;
}

// The stub's bounded copy: at most length - 1 bytes, ending early at a zero byte,
// always terminated. The caller has checked that offset + length fits the block.
int32_t CopyText(const unsigned char* block, uint32_t offset, uint32_t length, Text& out) {
  out = "";
  if (length <= 1) return kOk;
  const char* start = reinterpret_cast<const char*>(block + offset);
  const void* zero = std::memchr(start, 0, length - 1);
  uint32_t n = zero != nullptr ? static_cast<uint32_t>(static_cast<const char*>(zero) - start) : length - 1;
  if (n > 0x7FFFFFFEu) return kOutOfMemory;  // a Text counts its length in 31 bits
  char* buffer = out.GetBuffer(static_cast<int32_t>(n));
  if (buffer == nullptr) return kOutOfMemory;
  std::memcpy(buffer, start, n);
  buffer[n] = 0;
  out.ReleaseBuffer();
  return out.GetLength() == static_cast<int32_t>(n) ? kOk : kOutOfMemory;
}

}  // namespace

// A header length below 8 would overlap the container length word and is refused,
// as is a negative one (the stub reads the byte as signed). Texts and the picture
// are only looked at with the full header; a zero length leaves its offset unread.
int32_t ParsePayloadBlock(const unsigned char* block, uint32_t size, PayloadView& view) {
  view.full_header = false;
  view.header_length = 0;
  view.container = nullptr;
  view.container_length = 0;
  view.picture = nullptr;
  view.picture_length = 0;
  view.info = "";
  view.link = "";
  view.disclaimer = "";
  if (block == nullptr) return kBadArgument;
  if (size < 8) return kBadChunk;

  int32_t header_length = static_cast<signed char>(block[0]);
  if (header_length < 8) return kBadChunk;
  uint32_t container_length = ReadU32(block + 4);
  if (!Fits(static_cast<uint32_t>(header_length), container_length, size)) return kBadChunk;
  if (header_length != static_cast<int32_t>(kPayloadHeaderLength)) {
    view.header_length = static_cast<uint32_t>(header_length);
    view.container = block + header_length;
    view.container_length = container_length;
    return kOk;
  }

  uint32_t picture_length = ReadU32(block + 12);
  uint32_t picture_offset = ReadU32(block + 28);
  if (picture_length != 0 && !Fits(picture_offset, picture_length, size)) return kBadChunk;
  uint32_t text_length[3], text_offset[3];
  for (int i = 0; i < 3; ++i) {
    text_length[i] = ReadU32(block + 16 + 4 * i);
    text_offset[i] = ReadU32(block + 32 + 4 * i);
    if (text_length[i] != 0 && !Fits(text_offset[i], text_length[i], size)) return kBadChunk;
  }
  Text* texts[3] = {&view.info, &view.link, &view.disclaimer};
  for (int i = 0; i < 3; ++i) {
    int32_t r = CopyText(block, text_offset[i], text_length[i], *texts[i]);
    if (r != kOk) {
      view.info = "";
      view.link = "";
      view.disclaimer = "";
      return r;
    }
  }
  view.full_header = true;
  view.header_length = kPayloadHeaderLength;
  view.container = block + kPayloadHeaderLength;
  view.container_length = container_length;
  view.picture = picture_length != 0 ? block + picture_offset : nullptr;
  view.picture_length = picture_length;
  return kOk;
}

}  // namespace qef
