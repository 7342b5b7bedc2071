// Reading program images: what the stub uses on itself and the tool on program files.
// No standard containers, so that the stub links nothing of the C++ library for it.
#include "sfx/pe_image.h"

#include <cstring>

#include "core/result.h"
#include "sfx/payload.h"
#include "sfx/pe_format.h"

namespace qef {

namespace pe {

int32_t ParseHeaders(const unsigned char* p, size_t size, Headers& h, Text& message) {
  if (size < 2 || p[0] != 'M' || p[1] != 'Z') {
    message = "not a Windows program (no MZ header)";
    return kBadArgument;
  }
  if (size < 64) {
    message.Format("too short to be a Windows program (%u bytes)", static_cast<unsigned>(size));
    return kBadArgument;
  }
  uint32_t pe = LoadLe32(p + kDosNewHeader);
  if (static_cast<uint64_t>(pe) + 4 + kFileHeaderSize > size || std::memcmp(p + pe, "PE\0\0", 4) != 0) {
    message = "not a Windows program (no PE header)";
    return kBadArgument;
  }
  h.file_header = pe + 4;
  uint16_t machine = LoadLe16(p + h.file_header);
  if (machine != kMachineI386 && machine != kMachineAmd64) {
    message.Format("not an x86 or x86-64 program (machine 0x%X)", machine);
    return kBadArgument;
  }
  h.pe32_plus = machine == kMachineAmd64;
  h.section_count = LoadLe16(p + h.file_header + kFileSectionCount);
  h.optional_size = LoadLe16(p + h.file_header + kFileOptionalSize);
  h.optional_header = h.file_header + kFileHeaderSize;
  size_t minimum = h.pe32_plus ? kOptMinimumSize64 : kOptMinimumSize;
  uint16_t magic = h.pe32_plus ? kMagicPe32Plus : kMagicPe32;
  if (h.optional_size < minimum || h.optional_header + h.optional_size > size ||
      LoadLe16(p + h.optional_header) != magic) {
    message = h.pe32_plus ? "not a PE32+ program (its optional header is missing or not the 64-bit kind)"
                          : "not a PE32 program (its optional header is missing or not the 32-bit kind)";
    return kBadArgument;
  }
  const unsigned char* o = p + h.optional_header;
  h.image_base = h.pe32_plus ? LoadLe64(o + kOptImageBase64) : LoadLe32(o + kOptImageBase);
  h.section_alignment = LoadLe32(o + kOptSectionAlignment);
  h.file_alignment = LoadLe32(o + kOptFileAlignment);
  h.image_size = LoadLe32(o + kOptImageSize);
  h.headers_size = LoadLe32(o + kOptHeadersSize);
  h.directories = h.pe32_plus ? kOptDirectories64 : kOptDirectories;
  h.directory_count = LoadLe32(o + (h.pe32_plus ? kOptDirectoryCount64 : kOptDirectoryCount));
  if (h.directory_count > (h.optional_size - h.directories) / 8)
    h.directory_count = static_cast<uint32_t>((h.optional_size - h.directories) / 8);
  h.section_table = h.optional_header + h.optional_size;
  return kOk;
}

int32_t CheckSectionTable(const Headers& h, size_t size, Text& message) {
  if (h.SectionTableEnd() > size || h.SectionTableEnd() > h.headers_size) {
    message = "damaged program: its section table lies outside its headers";
    return kBadArgument;
  }
  return kOk;
}

Section ReadSection(const unsigned char* p, const Headers& h, uint32_t index) {
  const unsigned char* s = p + h.section_table + index * kSectionHeaderSize;
  return Section{LoadLe32(s + kSectionVirtualSize), LoadLe32(s + kSectionVirtualAddress), LoadLe32(s + kSectionRawSize),
                 LoadLe32(s + kSectionRawPointer)};
}

int32_t ParseFile(const unsigned char* head, size_t head_size, uint64_t file_size, Headers& h, Text& message) {
  if (head == nullptr) {
    message = "no program data";
    return kBadArgument;
  }
  int32_t r = ParseHeaders(head, head_size, h, message);
  if (r == kOk) r = CheckSectionTable(h, head_size, message);
  for (uint32_t i = 0; r == kOk && i < h.section_count; ++i) {
    Section s = ReadSection(head, h, i);
    if (s.raw_size != 0 && static_cast<uint64_t>(s.raw_pointer) + s.raw_size > file_size) {
      message.Format("the program file is truncated: section %u ends past its end", static_cast<unsigned>(i + 1));
      r = kShortRead;
    }
  }
  return r;
}

}  // namespace pe

using namespace pe;

void PeChecksumSum::Add(const unsigned char* data, size_t size) {
  size_ += size;
  size_t i = 0;
  if (odd_ && size > 0) {
    AddWord(static_cast<uint32_t>(low_ | data[0] << 8));
    odd_ = false;
    i = 1;
  }
  for (; i + 1 < size; i += 2) AddWord(LoadLe16(data + i));
  if (i < size) {
    low_ = data[i];
    odd_ = true;
  }
}

void PeChecksumSum::AddWord(uint32_t word) {
  sum_ += word;
  sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
}

uint32_t PeChecksumSum::Value() const {
  uint32_t sum = sum_;
  if (odd_) {
    sum += low_;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return sum + static_cast<uint32_t>(size_);
}

// The checksum field is summed as zero; in a file whose field lies at an odd offset,
// no word is the field, and every word counts.
uint32_t PeChecksum(const unsigned char* file, size_t size) {
  if (file == nullptr || size < 64 || file[0] != 'M' || file[1] != 'Z') return 0;
  uint64_t field = static_cast<uint64_t>(LoadLe32(file + kDosNewHeader)) + 4 + kFileHeaderSize + kOptCheckSum;
  if (field + 4 > size) return 0;
  PeChecksumSum sum;
  if (field % 2 != 0) {
    sum.Add(file, size);
    return sum.Value();
  }
  const unsigned char zero[4] = {0, 0, 0, 0};
  size_t at = static_cast<size_t>(field);
  sum.Add(file, at);
  sum.Add(zero, 4);
  sum.Add(file + at + 4, size - at - 4);
  return sum.Value();
}

int32_t InspectPeImage(const unsigned char* file, size_t size, PeImageFacts& facts, Text& message) {
  return InspectPeImage(file, size, size, facts, message);
}

int32_t InspectPeImage(const unsigned char* head, size_t head_size, uint64_t size, PeImageFacts& facts, Text& message) {
  facts = PeImageFacts();
  const unsigned char* file = head;
  Headers h;
  int32_t r = ParseFile(head, head_size, size, h, message);
  if (r != kOk) return r;
  if (size > 0xFFFFFFFFu) {
    message = "the program file is larger than 4 GiB";
    return kBadArgument;
  }
  facts.image_base = h.image_base;
  facts.pe32_plus = h.pe32_plus;
  facts.image_size = h.image_size;
  facts.section_alignment = h.section_alignment;
  facts.file_alignment = h.file_alignment;
  facts.section_count = h.section_count;
  facts.file_size = static_cast<uint32_t>(size);
  facts.stub_image_size = h.image_size;
  facts.stub_file_size = facts.file_size;
  uint32_t sections_end = h.headers_size < size ? h.headers_size : facts.file_size;
  for (uint32_t i = 0; i < h.section_count; ++i) {
    Section s = ReadSection(file, h, i);
    if (s.raw_size != 0 && s.raw_pointer + s.raw_size > sections_end) sections_end = s.raw_pointer + s.raw_size;
    if (s.virtual_address == kPayloadRva) {
      facts.has_payload_section = true;
      facts.stub_image_size = kPayloadRva;
      facts.stub_file_size = s.raw_pointer;
      facts.payload_size = s.FileBytes();
    }
  }
  facts.overlay_size = facts.file_size - sections_end;
  if (h.directory_count > kCertificateDirectory) {
    const unsigned char* entry = file + h.optional_header + h.directories + kDirectorySize * kCertificateDirectory;
    uint32_t offset = LoadLe32(entry), length = LoadLe32(entry + 4);
    // A table that does not lie within the file is reported as none.
    if (length != 0 && offset <= facts.file_size && length <= facts.file_size - offset) {
      facts.certificate_offset = offset;
      facts.certificate_size = length;
    }
  }
  return kOk;
}

int32_t FindSectionInFile(const unsigned char* file, size_t size, uint32_t rva, const unsigned char** data,
                          uint32_t* length, Text& message) {
  *data = nullptr;
  uint32_t offset = 0;
  int32_t r = FindSectionInFile(file, size, size, rva, &offset, length, message);
  if (r == kOk) *data = file + offset;
  return r;
}

int32_t FindSectionInFile(const unsigned char* head, size_t head_size, uint64_t file_size, uint32_t rva,
                          uint32_t* offset, uint32_t* length, Text& message) {
  *offset = 0;
  *length = 0;
  Headers h;
  int32_t r = ParseFile(head, head_size, file_size, h, message);
  if (r != kOk) return r;
  for (uint32_t i = 0; i < h.section_count; ++i) {
    Section s = ReadSection(head, h, i);
    if (s.virtual_address != rva) continue;
    *offset = s.raw_pointer;
    *length = s.FileBytes();
    return kOk;
  }
  message.Format("the program has no section at address 0x%X", static_cast<unsigned>(rva));
  return kFailed;
}

// The loader has checked the headers before mapping them, and at least the first
// page is always mapped; the section table is read only when it lies within the
// mapped headers.
int32_t FindSectionInMemory(const unsigned char* module_base, uint32_t rva, const unsigned char** data,
                            uint32_t* length) {
  *data = nullptr;
  *length = 0;
  if (module_base == nullptr) return kBadArgument;
  const size_t kFirstPage = 0x1000;
  Headers h;
  Text message;
  int32_t r = ParseHeaders(module_base, kFirstPage, h, message);
  if (r == kOk) r = CheckSectionTable(h, h.headers_size > kFirstPage ? h.headers_size : kFirstPage, message);
  if (r != kOk) return r;
  for (uint32_t i = 0; i < h.section_count; ++i) {
    Section s = ReadSection(module_base, h, i);
    if (s.virtual_address != rva) continue;
    if (static_cast<uint64_t>(s.virtual_address) + s.MappedSize() > h.image_size) return kFailed;
    *data = module_base + rva;
    *length = s.MappedSize();
    return kOk;
  }
  return kFailed;
}

}  // namespace qef
