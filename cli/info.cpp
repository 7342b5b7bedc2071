// qef info: what an archive says about itself without the password: the header's
// cipher, compression and progress total, and for a program its texts, picture and
// stub.
#include <cstdio>
#include <vector>

#include "cli/archive.h"
#include "cli/bitmap.h"
#include "cli/names.h"
#include "cli/signing.h"
#include "cli/tool.h"
#include "container/container_reader.h"
#include "core/format.h"
#include "core/result.h"
#include "fs/file_stream.h"

namespace qef {

namespace {

// Texts and a picture larger than this are described, not read: a program's block may
// say anything about their sizes.
const uint32_t kShownLimit = 16u << 20;

void Field(const char* name, const Text& value) { std::printf("%-16s%s\n", name, value.Str()); }

const char* CipherName(uint8_t id) {
  return id == kAesCipher ? "AES-128" : id == kBlowfishCipher ? "Blowfish" : "unknown";
}

// The header keeps only the setting: which deflate level made the chunks depends on the
// version that wrote them (zlib 9 and 3 once, libdeflate 6 and 4 now), so none is named.
const char* CompressionName(uint8_t setting) {
  switch (setting) {
    case kCompressionStored: return "store";
    case kCompressionBest: return "best: deflate";
    case kCompressionFast: return "fast: deflate";
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

// Whether the program carries an Authenticode signature, and whose. The signature is
// not checked here: `osslsigncode verify` does that.
Text DescribeSignature(const Text& path, const PeImageFacts& image) {
  if (image.certificate_size == 0) return Text("none");
  Text value;
  value.Format("Authenticode, %lu bytes", static_cast<unsigned long>(image.certificate_size));
  std::vector<unsigned char> table;
  FilePart part;
  part.offset = image.certificate_offset;
  part.length = image.certificate_size;
  StreamParams params;
  FileStream file;
  Text signer;
  if (image.certificate_size <= kShownLimit && file.OpenPart(path, part, &params) == kOk) {
    table.resize(image.certificate_size);
    if (file.Read(table.data(), image.certificate_size) == kOk && ReadSigner(table.data(), table.size(), signer) == kOk)
      value = Text::Concat(Text::Concat(value, ", signed by "), Escaped(signer, false));
  }
  file.Close();
  return value;
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
  uint8_t cipher = header.GetByte(kHeaderCipher, kBlowfishCipher);
  value.Format("%s (id %u)", CipherName(cipher), static_cast<unsigned>(cipher));
  Field("Cipher:", value);
  uint8_t setting = header.GetByte(kHeaderCompression, kCompressionStored);
  value.Format("%s (setting %u)", CompressionName(setting), static_cast<unsigned>(setting));
  Field("Compression:", value);
  uint32_t total = header.GetDWord(kHeaderProgressTotal, 0);
  value.Format("%lu bytes", static_cast<unsigned long>(total));
  Field("Progress total:", total != 0 ? value : Text("(none)"));
  Field("Checksums:", header.GetByte(kHeaderChecksums, 0) == 1 ? "CRC-32 of every item" : "(none)");
  if (!archive.IsProgram()) return kExitOk;

  const PayloadLayout& layout = archive.Layout();
  value.Format("%lu bytes", static_cast<unsigned long>(layout.container_length));
  Field("Container:", value);
  value.Format("%lu bytes", static_cast<unsigned long>(archive.Image().stub_file_size));
  Field("Stub:", value);
  Field("Signature:", DescribeSignature(path, archive.Image()));
  if (!layout.full_header) {
    Field("Texts:", "(a short payload header: no texts, no picture)");
    return kExitOk;
  }
  const char* titles[3] = {"Info text:", "Link:", "Disclaimer:"};
  const int order[3] = {1, 0, 2};  // link, info text, disclaimer
  std::vector<unsigned char> bytes;
  for (int i : order) {
    Text stored;
    uint32_t length = layout.text_length[i];
    r = archive.ReadBlockBytes(layout.text_offset[i], length, kShownLimit, bytes);
    if (r == kOk) r = StoredText(bytes.data(), length, stored);
    if (r == kOutOfMemory) {
      value.Format("(%lu bytes, too long to show)", static_cast<unsigned long>(length));
      Field(titles[i], value);
      continue;
    }
    if (r != kOk) return Fail(r, "cannot read the payload's texts");
    TextField(titles[i], stored, page);
  }
  BitmapFacts facts;
  Text why;
  uint32_t picture_length = layout.picture_length;
  if (picture_length == 0) {
    value = "(none)";
  } else if ((r = archive.ReadBlockBytes(layout.picture_offset, picture_length, kShownLimit, bytes)) != kOk) {
    if (r != kOutOfMemory) return Fail(r, "cannot read the payload's picture");
    value.Format("%lu bytes (too large to check)", static_cast<unsigned long>(picture_length));
  } else if (CheckBitmap(bytes.data(), bytes.size(), why, &facts) == kOk) {
    value.Format("%ld x %ld pixels, %ld bits per pixel, %lu bytes", static_cast<long>(facts.width),
                 static_cast<long>(facts.height), static_cast<long>(facts.bits_per_pixel),
                 static_cast<unsigned long>(picture_length));
  } else {
    value.Format("%lu bytes (%s)", static_cast<unsigned long>(picture_length), why.Str());
  }
  Field("Picture:", value);
  return kExitOk;
}

}  // namespace qef
