// Editing program images: appending the payload section. Apart from the reading side
// so that the stub, which only reads, links none of it.
#include <cstring>

#include "core/result.h"
#include "sfx/payload.h"
#include "sfx/pe_format.h"
#include "sfx/pe_image.h"

namespace qef {

using namespace pe;

namespace {

const char kPayloadSectionName[8] = {'.', 'p', 'a', 'y', 'l', 'o', 'a', 'd'};

}  // namespace

int32_t PreparePayloadSection(std::vector<unsigned char>& image, uint64_t block_size, uint32_t& padding,
                              Text& message) {
  padding = 0;
  Headers h;
  int32_t r = ParseFile(image.data(), image.size(), image.size(), h, message);
  if (r != kOk) return r;
  const unsigned char* p = image.data();
  if (h.section_count == 0) {
    message = "the program has no sections";
    return kBadArgument;
  }

  // Where the stub's image ends in memory, and which section is last.
  uint64_t image_end = h.image_size;
  uint32_t last = 0;
  uint32_t first_raw = h.headers_size;
  for (uint32_t i = 0; i < h.section_count; ++i) {
    Section s = ReadSection(p, h, i);
    if (s.virtual_address == kPayloadRva) {
      message = "the program already carries a payload section";
      return kBadArgument;
    }
    if (IsPowerOfTwo(h.section_alignment)) {
      uint64_t end = AlignUp(static_cast<uint64_t>(s.virtual_address) + s.MappedSize(), h.section_alignment);
      if (end > image_end) image_end = end;
    }
    if (s.virtual_address >= ReadSection(p, h, last).virtual_address) last = i;
    if (s.raw_size != 0 && s.raw_pointer < first_raw) first_raw = s.raw_pointer;
  }
  if (!IsPowerOfTwo(h.section_alignment) || h.section_alignment < 0x1000 || kPayloadRva % h.section_alignment != 0 ||
      !IsPowerOfTwo(h.file_alignment) || h.file_alignment < 0x200 || h.file_alignment > h.section_alignment) {
    message.Format("the program's alignments (section 0x%X, file 0x%X) cannot place a section at 0x%X",
                   static_cast<unsigned>(h.section_alignment), static_cast<unsigned>(h.file_alignment),
                   static_cast<unsigned>(kPayloadRva));
    return kBadArgument;
  }
  if (image_end > kPayloadRva) {
    message.Format("the program's image ends at 0x%llX, past 0x%X where the payload must start",
                   static_cast<unsigned long long>(image_end), static_cast<unsigned>(kPayloadRva));
    return kBadArgument;
  }
  size_t slot = h.SectionTableEnd();
  bool room = slot + kSectionHeaderSize <= h.headers_size && slot + kSectionHeaderSize <= first_raw;
  for (size_t i = 0; room && i < kSectionHeaderSize; ++i) room = p[slot + i] == 0;
  if (!room) {
    message = "the program has no room for one more section header before its first section";
    return kBadArgument;
  }
  if (block_size == 0) {
    message = "the payload block is empty";
    return kBadArgument;
  }
  uint64_t raw_pointer = AlignUp(image.size(), h.file_alignment);
  uint64_t raw_size = AlignUp(block_size, h.file_alignment);
  uint64_t new_image_size = kPayloadRva + AlignUp(block_size, h.section_alignment);
  if (raw_pointer + raw_size > 0xFFFFFFFFu || new_image_size > 0xFFFFFFFFu) {
    message = "the program with its payload would be larger than 4 GiB";
    return kBadArgument;
  }

  // All checks passed; from here on the image only changes.
  image.resize(static_cast<size_t>(raw_pointer), 0);
  padding = static_cast<uint32_t>(raw_size - block_size);
  unsigned char* q = image.data();

  Section tail = ReadSection(q, h, last);
  if (AlignUp(static_cast<uint64_t>(tail.virtual_address) + tail.MappedSize(), h.section_alignment) < kPayloadRva)
    StoreLe32(q + h.section_table + last * kSectionHeaderSize + kSectionVirtualSize,
              kPayloadRva - tail.virtual_address);

  unsigned char* s = q + slot;
  std::memcpy(s, kPayloadSectionName, 8);
  StoreLe32(s + kSectionVirtualSize, static_cast<uint32_t>(block_size));
  StoreLe32(s + kSectionVirtualAddress, kPayloadRva);
  StoreLe32(s + kSectionRawSize, static_cast<uint32_t>(raw_size));
  StoreLe32(s + kSectionRawPointer, static_cast<uint32_t>(raw_pointer));
  StoreLe32(s + kSectionCharacteristics, kSectionInitializedData | kSectionRead);

  StoreLe16(q + h.file_header + kFileSectionCount, static_cast<uint16_t>(h.section_count + 1));
  unsigned char* o = q + h.optional_header;
  StoreLe32(o + kOptInitializedData, LoadLe32(o + kOptInitializedData) + static_cast<uint32_t>(raw_size));
  StoreLe32(o + kOptImageSize, static_cast<uint32_t>(new_image_size));
  if (h.directory_count > kCertificateDirectory)
    std::memset(o + h.directories + kDirectorySize * kCertificateDirectory, 0, kDirectorySize);
  StoreLe32(o + kOptCheckSum, 0);
  return kOk;
}

void StorePeChecksum(std::vector<unsigned char>& image, uint32_t checksum) {
  Headers h;
  Text message;
  if (ParseHeaders(image.data(), image.size(), h, message) == kOk)
    StoreLe32(image.data() + h.optional_header + kOptCheckSum, checksum);
}

int32_t AppendPayloadSection(std::vector<unsigned char>& image, const std::vector<unsigned char>& block,
                             Text& message) {
  uint32_t padding = 0;
  int32_t r = PreparePayloadSection(image, block.size(), padding, message);
  if (r != kOk) return r;
  image.insert(image.end(), block.begin(), block.end());
  image.insert(image.end(), padding, 0);
  StorePeChecksum(image, PeChecksum(image.data(), image.size()));
  return kOk;
}

}  // namespace qef
