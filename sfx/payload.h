#pragma once
// The payload block that a self-extracting program carries after the stub's image:
// a header, three texts, an optional picture and the container data. Integers are
// little-endian; offsets count from the block start.
//
//   0  1  header length (44 selects the full layout; the container data starts here)
//   4  4  container data length
//   8  4  reserved                 12 4 picture length
//  16  4  info text length         20 4 link text length      24 4 disclaimer length
//  28  4  picture offset           32 4 info text offset      36 4 link text offset
//  40  4  disclaimer text offset   44 ... container data, texts and picture
//
// A text's length counts one terminating byte: a reader copies at most length - 1
// bytes, stopping early at a zero byte; a length of 0 or 1 is the empty text.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/text.h"

namespace qef {

const uint32_t kPayloadHeaderLength = 44;
// Field offsets in the header. A header shorter than kPayloadMinimumHeader would
// overlap the container length; the later fields exist only in the full header.
const uint32_t kPayloadContainerLengthAt = 4;
const uint32_t kPayloadMinimumHeader = 8;
const uint32_t kPayloadPictureLengthAt = 12;
const uint32_t kPayloadTextLengthsAt = 16;  // info, link, disclaimer: 4 bytes each
const uint32_t kPayloadPictureOffsetAt = 28;
const uint32_t kPayloadTextOffsetsAt = 32;  // info, link, disclaimer: 4 bytes each
const size_t kPayloadTextCount = 3;
// The relative virtual address at which the stub finds its payload block.
const uint32_t kPayloadRva = 0x35000;
// The longest password, in bytes of the code page, that a program's password field
// takes: the tool refuses to make a program whose password could never be typed in.
const int32_t kProgramPasswordMax = 255;

// What goes into a block. Texts are bytes in the Windows code page, without a
// terminating zero (the writer adds it and counts it).
struct PayloadContent {
  std::vector<unsigned char> container;
  std::vector<unsigned char> picture;  // a complete BMP file, or empty
  std::vector<unsigned char> info;
  std::vector<unsigned char> link;
  std::vector<unsigned char> disclaimer;
};

// A parsed block, pointing into the caller's memory.
struct PayloadView {
  bool full_header = false;  // header length 44: texts and picture are present
  uint32_t header_length = 0;
  const unsigned char* container = nullptr;
  uint32_t container_length = 0;
  const unsigned char* picture = nullptr;
  uint32_t picture_length = 0;
  Text info;
  Text link;
  Text disclaimer;
};

// Where a block's parts lie, offsets from the block start, as its header gives them.
struct PayloadLayout {
  bool full_header = false;
  uint32_t header_length = 0;  // where the container data starts
  uint32_t container_length = 0;
  uint32_t picture_offset = 0;
  uint32_t picture_length = 0;
  uint32_t text_offset[kPayloadTextCount] = {0, 0, 0};  // info, link, disclaimer
  uint32_t text_length[kPayloadTextCount] = {0, 0, 0};
};

// Builds the block with the full 44-byte header.
std::vector<unsigned char> BuildPayloadBlock(const PayloadContent& content);

// The same block in three parts, for a writer that copies the container data from a
// file rather than holding it: `head` (the header), the container data of
// `container_length` bytes (content.container is not used), then `tail` (picture and
// texts). False when the block would not fit 32-bit offsets.
bool BuildPayloadParts(const PayloadContent& content, uint64_t container_length, std::vector<unsigned char>& head,
                       std::vector<unsigned char>& tail);

// Parses a block of `size` readable bytes. Every length and offset is checked against
// `size`: a block that points outside itself is refused with kBadChunk (600) rather
// than read. A header length other than 44 gives only the container data.
int32_t ParsePayloadBlock(const unsigned char* block, uint32_t size, PayloadView& view);

// The checks of ParsePayloadBlock from the header alone, for a reader that reads the
// parts it needs from a file: `head` holds the block's first min(size, 44) bytes.
int32_t ParsePayloadLayout(const unsigned char* head, uint32_t size, PayloadLayout& layout);

// A stored text of `length` bytes (its length word) at `bytes`, as the stub copies it:
// at most length - 1 bytes, ending early at a zero byte. 0, or kOutOfMemory.
int32_t StoredText(const unsigned char* bytes, uint32_t length, Text& out);

}  // namespace qef
