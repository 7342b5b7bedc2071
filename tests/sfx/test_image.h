#pragma once
// Program images for the PE tests: a small PE32 or PE32+ image built in code, field access by
// offset, a loader stand-in, and the table of stub edits that must be refused.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qef::test {

using Bytes = std::vector<unsigned char>;

struct TestImageShape {
  uint32_t sections = 2;  // at 0x1000, 0x2000, ...; 0x200 raw bytes each
  uint32_t last_virtual_size = 0x200;
  uint32_t overlay = 0;    // bytes of 0xEE after the last section's data
  bool pe32_plus = false;  // a 64-bit image
};

// A console image, PE32 i386 (image base 0x400000, room for five section headers)
// or PE32+ x86-64 (image base 0x140000000, room for four): section alignment 0x1000,
// file alignment 0x200, headers of 0x200 bytes.
Bytes MakeTestImage(const TestImageShape& shape = TestImageShape());

uint32_t Get32(const Bytes& b, size_t at);
uint16_t Get16(const Bytes& b, size_t at);
void Put32(Bytes& b, size_t at, uint32_t v);
void Put16(Bytes& b, size_t at, uint16_t v);

// Offsets of the headers inside an image.
struct Layout {
  size_t file_header;  // after "PE\0\0"
  size_t optional_header;
  size_t section_table;
  uint32_t section_count;
  size_t Section(uint32_t i) const { return section_table + size_t{40} * i; }
};
Layout LayoutOf(const Bytes& image);

// What the loader does with a program file: headers and each section's raw data copied
// to their virtual addresses in a zero-filled image of SizeOfImage bytes.
Bytes MapImage(const Bytes& file);

// Applies each refusal edit to `stub` and expects AppendPayloadSection to refuse it,
// leaving the image unchanged and saying why.
void ExpectRefusals(const Bytes& stub);

}  // namespace qef::test
