// A minimal self-extracting program for the tests: it looks up the payload section
// in its own mapped image, parses the block and prints what it found, proving that
// the loader maps an appended block at image base + kPayloadRva.
// Output: one line "container=<n> bytes=<hex> info=<text> link=<text> disclaimer=<text>
// picture=<n>". Exit code 0; 2 without a payload section; 3 when the block is
// refused, 4 when the section is not where the block must be.
#include <windows.h>

#include "core/text.h"
#include "sfx/payload.h"
#include "sfx/pe_image.h"

namespace {

void Say(const qef::Text& line) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.Str(), static_cast<DWORD>(line.GetLength()), &written, nullptr);
}

}  // namespace

int main() {
  const unsigned char* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
  const unsigned char* block = nullptr;
  uint32_t size = 0;
  if (qef::FindSectionInMemory(base, qef::kPayloadRva, &block, &size) != 0) {
    Say("no payload section\n");
    return 2;
  }
  if (block != base + qef::kPayloadRva) return 4;
  qef::PayloadView view;
  int32_t r = qef::ParsePayloadBlock(block, size, view);
  qef::Text line;
  if (r != 0) {
    line.Format("block refused: %ld\n", static_cast<long>(r));
    Say(line);
    return 3;
  }
  uint32_t shown = view.container_length < 16 ? view.container_length : 16;
  line.Format("container=%lu bytes=%s info=%s link=%s disclaimer=%s picture=%lu\n",
              static_cast<unsigned long>(view.container_length),
              qef::Text::HexDump(view.container, static_cast<int32_t>(shown), "", 1).Str(), view.info.Str(),
              view.link.Str(), view.disclaimer.Str(), static_cast<unsigned long>(view.picture_length));
  Say(line);
  return 0;
}
