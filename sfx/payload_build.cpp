// The writing side of the payload block, apart from the reading side so that the stub,
// which only reads, links none of it.
#include <cstring>

#include "sfx/payload.h"

namespace qef {

namespace {

void WriteU32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace

// Layout written: header, container data at 44, then picture, info, link and
// disclaimer in that order. Each text carries its terminating zero (so a text of
// n bytes has length n + 1, and the empty text length 1); an empty picture has
// length and offset 0. A block that would not fit 32-bit offsets comes back empty.
std::vector<unsigned char> BuildPayloadBlock(const PayloadContent& content) {
  const std::vector<unsigned char>* texts[3] = {&content.info, &content.link, &content.disclaimer};
  uint64_t total = kPayloadHeaderLength + static_cast<uint64_t>(content.container.size()) +
                   content.picture.size();
  for (const std::vector<unsigned char>* t : texts) total += t->size() + 1;
  if (total > 0xFFFFFFFFu) return {};

  std::vector<unsigned char> block(static_cast<size_t>(total), 0);
  unsigned char* h = block.data();
  h[0] = static_cast<unsigned char>(kPayloadHeaderLength);
  WriteU32(h + 4, static_cast<uint32_t>(content.container.size()));
  uint32_t pos = kPayloadHeaderLength;
  if (!content.container.empty()) std::memcpy(h + pos, content.container.data(), content.container.size());
  pos += static_cast<uint32_t>(content.container.size());

  WriteU32(h + 12, static_cast<uint32_t>(content.picture.size()));
  if (!content.picture.empty()) {
    WriteU32(h + 28, pos);
    std::memcpy(h + pos, content.picture.data(), content.picture.size());
    pos += static_cast<uint32_t>(content.picture.size());
  }
  // Lengths at 16, 20, 24 and offsets at 32, 36, 40, in the order info, link, disclaimer.
  for (int i = 0; i < 3; ++i) {
    const std::vector<unsigned char>& t = *texts[i];
    WriteU32(h + 16 + 4 * i, static_cast<uint32_t>(t.size() + 1));
    WriteU32(h + 32 + 4 * i, pos);
    if (!t.empty()) std::memcpy(h + pos, t.data(), t.size());
    pos += static_cast<uint32_t>(t.size() + 1);  // the zero is already there
  }
  return block;
}

}  // namespace qef
