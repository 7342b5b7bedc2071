// qef info: what an archive says about itself without the password: the header's
// cipher, compression and progress total, and for a program its texts, picture and
// stub.
#include <cstdio>

#include "cli/archive.h"
#include "cli/bitmap.h"
#include "cli/names.h"
#include "cli/tool.h"
#include "container/container_reader.h"
#include "core/result.h"

namespace qef {

namespace {

void Field(const char* name, const Text& value) { std::printf("%-16s%s\n", name, value.Str()); }

const char* CipherName(uint8_t id) { return id == 2 ? "AES-128" : id == 0 ? "Blowfish" : "unknown"; }

const char* CompressionName(uint8_t setting) {
  switch (setting) {
    case 0: return "store";
    case 1: return "best: deflate level 9";
    case 2: return "fast: deflate level 3";
    default: return "unknown";
  }
}

// A stored text shown in the local code page, each line indented below its title.
void TextField(const char* name, const Text& stored, const CodePage& page) {
  if (stored.IsEmpty()) {
    Field(name, "(none)");
    return;
  }
  Text local, why;
  if (ToLocalName(stored, page, local, why) != kOk) local = Escaped(stored, true);
  local.Remove('\r');
  if (local.Find('\n') < 0) {
    Field(name, Escaped(local, false));
    return;
  }
  std::printf("%s\n", name);
  for (int32_t start = 0; start < local.GetLength();) {
    int32_t end = local.Find('\n', start);
    if (end < 0) end = local.GetLength();
    if (end > start) std::printf("  %s", Escaped(local.Mid(start, end - start), false).Str());
    std::printf("\n");
    start = end + 1;
  }
}

}  // namespace

int RunInfo(const Text& path, const CodePage& page) {
  ArchiveInput archive;
  Text message;
  int32_t r = archive.Open(path, message);
  PropertyList header;
  if (r == kOk) r = archive.ReadHeader(header);
  if (r != kOk) return Fail(r, message);

  Text value;
  Field("Archive:", path);
  if (archive.IsProgram())
    Field("Kind:", archive.Image().pe32_plus ? "self-extracting program, 64-bit Windows (PE32+)"
                                             : "self-extracting program, 32-bit Windows (PE32)");
  else
    Field("Kind:", "container");
  uint8_t cipher = header.GetByte(kHeaderCipher, 0);
  value.Format("%s (id %u)", CipherName(cipher), static_cast<unsigned>(cipher));
  Field("Cipher:", value);
  uint8_t setting = header.GetByte(kHeaderCompression, 0);
  value.Format("%s (setting %u)", CompressionName(setting), static_cast<unsigned>(setting));
  Field("Compression:", value);
  uint32_t total = header.GetDWord(kHeaderProgressTotal, 0);
  value.Format("%lu bytes", static_cast<unsigned long>(total));
  Field("Progress total:", total != 0 ? value : Text("(none)"));
  if (!archive.IsProgram()) return kExitOk;

  const PayloadView& payload = archive.Payload();
  value.Format("%lu bytes", static_cast<unsigned long>(payload.container_length));
  Field("Container:", value);
  value.Format("%lu bytes", static_cast<unsigned long>(archive.Image().stub_file_size));
  Field("Stub:", value);
  if (!payload.full_header) {
    Field("Texts:", "(a short payload header: no texts, no picture)");
    return kExitOk;
  }
  TextField("Link:", payload.link, page);
  TextField("Info text:", payload.info, page);
  TextField("Disclaimer:", payload.disclaimer, page);
  BitmapFacts facts;
  Text why;
  if (payload.picture_length == 0)
    value = "(none)";
  else if (CheckBitmap(payload.picture, payload.picture_length, why, &facts) == kOk)
    value.Format("%ld x %ld pixels, %ld bits per pixel, %lu bytes", static_cast<long>(facts.width),
                 static_cast<long>(facts.height), static_cast<long>(facts.bits_per_pixel),
                 static_cast<unsigned long>(payload.picture_length));
  else
    value.Format("%lu bytes (%s)", static_cast<unsigned long>(payload.picture_length), why.Str());
  Field("Picture:", value);
  return kExitOk;
}

}  // namespace qef
