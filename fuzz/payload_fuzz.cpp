// The payload block reader and the PE reader: whatever the bytes, they answer a code,
// and everything they hand back lies inside the bytes they were given.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_target.h"
#include "sfx/payload.h"
#include "sfx/pe_image.h"

namespace {

bool Inside(const unsigned char* p, uint32_t n, const uint8_t* data, size_t size) {
  return n == 0 || (p >= data && p + n <= data + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qef::PayloadView view;
  if (qef::ParsePayloadBlock(data, static_cast<uint32_t>(size), view) == 0) {
    FUZZ_ASSERT(Inside(view.container, view.container_length, data, size));
    FUZZ_ASSERT(Inside(view.picture, view.picture_length, data, size));
  }
  qef::PeImageFacts facts;
  qef::Text message;
  qef::InspectPeImage(data, size, facts, message);
  const unsigned char* section = nullptr;
  uint32_t length = 0;
  if (qef::FindSectionInFile(data, size, qef::kPayloadRva, &section, &length, message) == 0) {
    FUZZ_ASSERT(Inside(section, length, data, size));
    qef::ParsePayloadBlock(section, length, view);
  }
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  std::vector<std::string> seeds;
  qef::PayloadContent content;
  content.container.assign(100, 'c');
  content.info = {'i', 'n', 'f', 'o'};
  content.link = {'l'};
  content.picture.assign(60, 'B');
  auto block = qef::BuildPayloadBlock(content);
  seeds.emplace_back(block.begin(), block.end());
  seeds.push_back(
      std::string("\x08\x00\x00\x00\x04\x00\x00\x00"
                  "abcd",
                  12));
  // A minimal PE32 image with its section table, so that the PE reader is reached.
  std::string pe(1024, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3C] = 0x40;
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  pe[0x44] = 0x4C;
  pe[0x45] = 0x01;
  pe[0x46] = 1;                        // one section
  pe[0x54] = static_cast<char>(0xE0);  // optional header size
  pe[0x58] = 0x0B;
  pe[0x59] = 0x01;  // PE32
  seeds.push_back(pe);
  return seeds;
}
