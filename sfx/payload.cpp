// The reading side of the payload block, which the stub links: no standard containers,
// so that it pulls nothing of the C++ library into the stub.
#include "sfx/payload.h"

#include <cstring>

#include "core/endian.h"
#include "core/result.h"

namespace qef {

namespace {

// True when [offset, offset + length) lies inside a block of `size` bytes.
bool Fits(uint32_t offset, uint32_t length, uint32_t size) { return static_cast<uint64_t>(offset) + length <= size; }

}  // namespace

// The stub's bounded copy: at most length - 1 bytes, ending early at a zero byte,
// always terminated. The caller has checked that the bytes are readable.
int32_t StoredText(const unsigned char* bytes, uint32_t length, Text& out) {
  out = "";
  if (length <= 1) return kOk;
  const char* start = reinterpret_cast<const char*>(bytes);
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

// A header length below kPayloadMinimumHeader would overlap the container length word and is refused,
// as is a negative one (the stub reads the byte as signed). Texts and the picture
// are only looked at with the full header; a zero length leaves its offset unread.
int32_t ParsePayloadLayout(const unsigned char* head, uint32_t size, PayloadLayout& layout) {
  layout = PayloadLayout();
  if (head == nullptr) return kBadArgument;
  if (size < kPayloadMinimumHeader) return kBadChunk;
  // NOLINTNEXTLINE(bugprone-signed-char-misuse): the stub reads the byte as signed, so 0x80 and above are refused
  int32_t header_length = static_cast<signed char>(head[0]);
  if (header_length < static_cast<int32_t>(kPayloadMinimumHeader)) return kBadChunk;
  uint32_t container_length = LoadLe32(head + kPayloadContainerLengthAt);
  if (!Fits(static_cast<uint32_t>(header_length), container_length, size)) return kBadChunk;
  if (header_length != static_cast<int32_t>(kPayloadHeaderLength)) {
    layout.header_length = static_cast<uint32_t>(header_length);
    layout.container_length = container_length;
    return kOk;
  }
  PayloadLayout full;
  full.picture_length = LoadLe32(head + kPayloadPictureLengthAt);
  full.picture_offset = LoadLe32(head + kPayloadPictureOffsetAt);
  if (full.picture_length != 0 && !Fits(full.picture_offset, full.picture_length, size)) return kBadChunk;
  for (size_t i = 0; i < kPayloadTextCount; ++i) {
    full.text_length[i] = LoadLe32(head + kPayloadTextLengthsAt + 4 * i);
    full.text_offset[i] = LoadLe32(head + kPayloadTextOffsetsAt + 4 * i);
    if (full.text_length[i] != 0 && !Fits(full.text_offset[i], full.text_length[i], size)) return kBadChunk;
  }
  full.full_header = true;
  full.header_length = kPayloadHeaderLength;
  full.container_length = container_length;
  layout = full;
  return kOk;
}

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
  PayloadLayout layout;
  int32_t r = ParsePayloadLayout(block, size, layout);
  if (r != kOk) return r;
  if (layout.full_header) {
    Text* texts[kPayloadTextCount] = {&view.info, &view.link, &view.disclaimer};
    for (size_t i = 0; i < kPayloadTextCount; ++i) {
      r = StoredText(block + layout.text_offset[i], layout.text_length[i], *texts[i]);
      if (r != kOk) {
        view.info = "";
        view.link = "";
        view.disclaimer = "";
        return r;
      }
    }
  }
  view.full_header = layout.full_header;
  view.header_length = layout.header_length;
  view.container = block + layout.header_length;
  view.container_length = layout.container_length;
  view.picture = layout.picture_length != 0 ? block + layout.picture_offset : nullptr;
  view.picture_length = layout.picture_length;
  return kOk;
}

}  // namespace qef
