#pragma once
// Inside sfx only: the few PE32 and PE32+ structures, read and written field by field
// in little-endian order (core/endian.h), and the header checks that reading and editing share.
#include <cstddef>
#include <cstdint>

#include "core/endian.h"
#include "core/text.h"

namespace qef::pe {

// Offsets inside the structures, from the start of each.
const size_t kDosNewHeader = 0x3C;  // e_lfanew
const size_t kFileHeaderSize = 20;  // after the 4-byte "PE\0\0"
const size_t kSectionHeaderSize = 40;
// File header fields.
const size_t kFileSectionCount = 2;
const size_t kFileOptionalSize = 16;
// Section header fields.
const size_t kSectionVirtualSize = 8;
const size_t kSectionVirtualAddress = 12;
const size_t kSectionRawSize = 16;
const size_t kSectionRawPointer = 20;
const size_t kSectionCharacteristics = 36;
const uint16_t kMachineI386 = 0x14C;
const uint16_t kMachineAmd64 = 0x8664;
const uint16_t kMagicPe32 = 0x10B;
const uint16_t kMagicPe32Plus = 0x20B;
// Optional header fields. Up to the checksum both kinds share their offsets but for
// the image base, which PE32+ widens to 8 bytes where PE32 keeps BaseOfData.
const size_t kOptInitializedData = 8;
const size_t kOptImageBase = 28;
const size_t kOptImageBase64 = 24;
const size_t kOptSectionAlignment = 32;
const size_t kOptFileAlignment = 36;
const size_t kOptImageSize = 56;
const size_t kOptHeadersSize = 60;
const size_t kOptCheckSum = 64;
const size_t kOptDirectoryCount = 92;
const size_t kOptDirectories = 96;
const size_t kOptMinimumSize = 96;  // everything up to the data directories
const size_t kOptDirectoryCount64 = 108;
const size_t kOptDirectories64 = 112;
const size_t kOptMinimumSize64 = 112;
const uint32_t kCertificateDirectory = 4;
const size_t kDirectorySize = 8;  // one data directory: address and size
const uint32_t kSectionInitializedData = 0x00000040;
const uint32_t kSectionRead = 0x40000000;

inline bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }
// `alignment` is a power of two; the result may not fit 32 bits, hence 64.
inline uint64_t AlignUp(uint64_t v, uint32_t alignment) {
  return (v + alignment - 1) & ~static_cast<uint64_t>(alignment - 1);
}

struct Section {
  uint32_t virtual_size;
  uint32_t virtual_address;
  uint32_t raw_size;
  uint32_t raw_pointer;
  // The bytes the loader maps for it: its virtual size, or its raw size when that is 0.
  uint32_t MappedSize() const { return virtual_size != 0 ? virtual_size : raw_size; }
  // Its bytes in the file that belong to the image.
  uint32_t FileBytes() const { return virtual_size != 0 && virtual_size < raw_size ? virtual_size : raw_size; }
};

// Where the headers lie and what they say.
struct Headers {
  size_t file_header = 0;  // just after "PE\0\0"
  size_t optional_header = 0;
  size_t optional_size = 0;
  size_t section_table = 0;
  uint32_t section_count = 0;
  bool pe32_plus = false;  // a 64-bit (x86-64) program
  size_t directories = 0;  // offset of the data directories in the optional header
  uint64_t image_base = 0;
  uint32_t section_alignment = 0;
  uint32_t file_alignment = 0;
  uint32_t image_size = 0;
  uint32_t headers_size = 0;
  uint32_t directory_count = 0;  // those that fit the optional header

  size_t SectionTableEnd() const { return section_table + section_count * kSectionHeaderSize; }
};

// Checks the DOS, file and optional headers of a PE32 i386 or PE32+ x86-64 image
// within `size` bytes; not the section table. 0, or kBadArgument with the reason in `message`.
int32_t ParseHeaders(const unsigned char* p, size_t size, Headers& h, Text& message);
// The section table must lie inside both `size` and the image's headers.
int32_t CheckSectionTable(const Headers& h, size_t size, Text& message);
Section ReadSection(const unsigned char* p, const Headers& h, uint32_t index);
// Headers and section table of a program file, each section's raw data checked
// against the file size (kShortRead when it lies past the end). `head` holds the
// file's first head_size bytes, which must take in the headers and section table.
int32_t ParseFile(const unsigned char* head, size_t head_size, uint64_t file_size, Headers& h, Text& message);

}  // namespace qef::pe
