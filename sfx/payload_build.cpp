// The writing side of the payload block, apart from the reading side so that the stub,
// which only reads, links none of it.
#include <cstring>

#include "core/endian.h"
#include "sfx/payload.h"

namespace qef {

// Layout written: header, container data at 44, then picture, info, link and
// disclaimer in that order. Each text carries its terminating zero (so a text of
// n bytes has length n + 1, and the empty text length 1); an empty picture has
// length and offset 0.
bool BuildPayloadParts(const PayloadContent& content, uint64_t container_length, std::vector<unsigned char>& head,
                       std::vector<unsigned char>& tail) {
  const std::vector<unsigned char>* texts[kPayloadTextCount] = {&content.info, &content.link, &content.disclaimer};
  uint64_t tail_size = content.picture.size();
  for (const std::vector<unsigned char>* t : texts) tail_size += t->size() + 1;
  if (kPayloadHeaderLength + container_length + tail_size > 0xFFFFFFFFu) return false;

  head.assign(kPayloadHeaderLength, 0);
  tail.assign(static_cast<size_t>(tail_size), 0);
  unsigned char* h = head.data();
  h[0] = static_cast<unsigned char>(kPayloadHeaderLength);
  StoreLe32(h + kPayloadContainerLengthAt, static_cast<uint32_t>(container_length));
  uint32_t pos = kPayloadHeaderLength + static_cast<uint32_t>(container_length);
  const uint32_t tail_start = pos;  // block offset pos lies at tail[pos - tail_start]

  StoreLe32(h + kPayloadPictureLengthAt, static_cast<uint32_t>(content.picture.size()));
  if (!content.picture.empty()) {
    StoreLe32(h + kPayloadPictureOffsetAt, pos);
    std::memcpy(tail.data() + (pos - tail_start), content.picture.data(), content.picture.size());
    pos += static_cast<uint32_t>(content.picture.size());
  }
  for (size_t i = 0; i < kPayloadTextCount; ++i) {
    const std::vector<unsigned char>& text = *texts[i];
    StoreLe32(h + kPayloadTextLengthsAt + 4 * i, static_cast<uint32_t>(text.size() + 1));
    StoreLe32(h + kPayloadTextOffsetsAt + 4 * i, pos);
    if (!text.empty()) std::memcpy(tail.data() + (pos - tail_start), text.data(), text.size());
    pos += static_cast<uint32_t>(text.size() + 1);  // the zero is already there
  }
  return true;
}

// A block that would not fit 32-bit offsets comes back empty.
std::vector<unsigned char> BuildPayloadBlock(const PayloadContent& content) {
  std::vector<unsigned char> head, tail;
  if (!BuildPayloadParts(content, content.container.size(), head, tail)) return {};
  std::vector<unsigned char> block;
  block.reserve(head.size() + content.container.size() + tail.size());
  block.insert(block.end(), head.begin(), head.end());
  block.insert(block.end(), content.container.begin(), content.container.end());
  block.insert(block.end(), tail.begin(), tail.end());
  return block;
}

}  // namespace qef
