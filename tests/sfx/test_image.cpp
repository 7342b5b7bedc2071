#include "tests/sfx/test_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/result.h"
#include "sfx/payload.h"
#include "sfx/pe_image.h"

namespace qef::test {

uint32_t Get32(const Bytes& b, size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<uint32_t>(b.at(at + 3)) << 24;
}
uint16_t Get16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8); }
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
}
void Put16(Bytes& b, size_t at, uint16_t v) {
  for (int i = 0; i < 2; ++i) b.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
}

Layout LayoutOf(const Bytes& image) {
  Layout l;
  l.file_header = Get32(image, 0x3C) + 4;
  l.optional_header = l.file_header + 20;
  l.section_table = l.optional_header + Get16(image, l.file_header + 16);
  l.section_count = Get16(image, l.file_header + 2);
  return l;
}

Bytes MakeTestImage(const TestImageShape& shape) {
  const uint32_t n = shape.sections;
  Bytes b(size_t{0x200} * (n + 1), 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  std::memcpy(&b[0x40], "PE\0\0", 4);
  const size_t fh = 0x44, oh = fh + 20;
  const bool wide = shape.pe32_plus;
  const size_t optional_size = wide ? 0xF0 : 0xE0;  // with 16 data directories
  Put16(b, fh, wide ? 0x8664 : 0x14C);
  Put16(b, fh + 2, static_cast<uint16_t>(n));
  Put16(b, fh + 16, static_cast<uint16_t>(optional_size));
  Put16(b, fh + 18, wide ? 0x0022 : 0x0102);  // executable; large addresses or 32-bit machine
  Put16(b, oh, wide ? 0x20B : 0x10B);
  Put32(b, oh + 4, 0x200);  // SizeOfCode
  Put32(b, oh + 8, 0x200 * (n - 1));
  Put32(b, oh + 16, 0x1000);  // entry point
  if (wide) {
    Put32(b, oh + 24, 0x40000000);  // image base 0x140000000
    Put32(b, oh + 28, 0x1);
  } else {
    Put32(b, oh + 28, 0x400000);
  }
  Put32(b, oh + 32, 0x1000);
  Put32(b, oh + 36, 0x200);
  Put16(b, oh + 40, 4);  // operating system version 4.0
  Put16(b, oh + 48, 4);  // subsystem version 4.0
  uint32_t last_end = 0x1000 * n + ((shape.last_virtual_size + 0xFFF) & ~0xFFFu);
  Put32(b, oh + 56, last_end);
  Put32(b, oh + 60, 0x200);
  Put16(b, oh + 68, 3);  // console
  // Stack and heap sizes: 4 bytes each in PE32, 8 in PE32+; then the directory count.
  const size_t sizes = oh + 72, step = wide ? 8 : 4;
  Put32(b, sizes, 0x100000);
  Put32(b, sizes + step, 0x1000);
  Put32(b, sizes + 2 * step, 0x100000);
  Put32(b, sizes + 3 * step, 0x1000);
  Put32(b, oh + (wide ? 108 : 92), 16);
  for (uint32_t i = 0; i < n; ++i) {
    size_t s = oh + optional_size + size_t{40} * i;
    std::memcpy(&b[s], i == 0 ? ".text" : ".data", 5);
    Put32(b, s + 8, i + 1 == n ? shape.last_virtual_size : 0x200);
    Put32(b, s + 12, 0x1000 * (i + 1));
    Put32(b, s + 16, 0x200);
    Put32(b, s + 20, 0x200 * (i + 1));
    Put32(b, s + 36, i == 0 ? 0x60000020 : 0xC0000040);
    for (uint32_t k = 0; k < 0x200; ++k) b[0x200 * (i + 1) + k] = static_cast<unsigned char>(i + 1);
  }
  const unsigned char code[] = {0x31, 0xC0, 0xC3};  // xor eax, eax; ret
  std::memcpy(&b[0x200], code, sizeof code);
  b.insert(b.end(), shape.overlay, 0xEE);
  return b;
}

Bytes MapImage(const Bytes& file) {
  Layout l = LayoutOf(file);
  Bytes image(Get32(file, l.optional_header + 56), 0);
  uint32_t headers = Get32(file, l.optional_header + 60);
  std::memcpy(image.data(), file.data(), headers);
  for (uint32_t i = 0; i < l.section_count; ++i) {
    size_t s = l.Section(i);
    uint32_t vs = Get32(file, s + 8), va = Get32(file, s + 12);
    uint32_t raw = Get32(file, s + 16), at = Get32(file, s + 20);
    uint32_t n = vs != 0 && vs < raw ? vs : raw;
    std::memcpy(image.data() + va, file.data() + at, n);
  }
  return image;
}

void ExpectRefusals(const Bytes& stub) {
  using Edit = void (*)(Bytes&);
  struct Case {
    const char* name;
    Edit edit;
    const char* says;  // a piece of the message
  } cases[] = {
      {"not MZ", [](Bytes& b) { b[0] = 'X'; }, "MZ"},
      {"header offset past the end", [](Bytes& b) { Put32(b, 0x3C, 0xFFFFFFF0u); }, "PE header"},
      {"no PE signature", [](Bytes& b) { b[Get32(b, 0x3C)] = 'N'; }, "PE header"},
      {"ARM64 machine", [](Bytes& b) { Put16(b, LayoutOf(b).file_header, 0xAA64); }, "x86"},
      {"optional header of the other kind",
       [](Bytes& b) { Put16(b, LayoutOf(b).optional_header, Get16(b, LayoutOf(b).optional_header) ^ 0x10B ^ 0x20B); },
       "PE32"},
      {"truncated inside the headers", [](Bytes& b) { b.resize(Get32(b, 0x3C) + 10); }, "PE header"},
      {"truncated inside a section", [](Bytes& b) { b.resize(Get32(b, LayoutOf(b).Section(0) + 20) + 1); },
       "truncated"},
      {"image past the payload address",
       [](Bytes& b) {
         Layout l = LayoutOf(b);
         size_t last = l.Section(l.section_count - 1);
         Put32(b, last + 8, 0x35001 - Get32(b, last + 12));
       },
       "past 0x35000"},
      {"size of image past the payload address", [](Bytes& b) { Put32(b, LayoutOf(b).optional_header + 56, 0x36000); },
       "past 0x35000"},
      {"section alignment not dividing the payload address",
       [](Bytes& b) { Put32(b, LayoutOf(b).optional_header + 32, 0x10000); }, "alignments"},
      {"headers end at the section table",
       [](Bytes& b) {
         Layout l = LayoutOf(b);
         Put32(b, l.optional_header + 60, static_cast<uint32_t>(l.Section(l.section_count) + 39));
       },
       "no room"},
      {"first section data right after the table",
       [](Bytes& b) {
         Layout l = LayoutOf(b);
         uint32_t at = static_cast<uint32_t>(l.Section(l.section_count) + 20);
         Put32(b, l.Section(0) + 20, at);  // the data moves up: still a well-formed file
       },
       "no room"},
      {"bytes in use after the table", [](Bytes& b) { b[LayoutOf(b).Section(LayoutOf(b).section_count) + 5] = 1; },
       "no room"},
  };
  Bytes block = BuildPayloadBlock(PayloadContent{{1, 2, 3}, {}, {}, {}, {}});
  for (const Case& c : cases) {
    Bytes image = stub;
    c.edit(image);
    Bytes before = image;
    Text message;
    int32_t r = AppendPayloadSection(image, block, message);
    EXPECT_NE(r, kOk) << c.name;
    EXPECT_TRUE(r == kBadArgument || r == kShortRead) << c.name << ": " << r;
    EXPECT_NE(std::string(message.Str()).find(c.says), std::string::npos) << c.name << ": " << message.Str();
    EXPECT_EQ(image, before) << c.name;
  }

  // Patching twice is refused too.
  Bytes image = stub;
  Text message;
  ASSERT_EQ(AppendPayloadSection(image, block, message), kOk) << message.Str();
  EXPECT_EQ(AppendPayloadSection(image, block, message), kBadArgument);
  EXPECT_NE(std::string(message.Str()).find("already"), std::string::npos) << message.Str();
}

}  // namespace qef::test
