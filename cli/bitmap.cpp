#include "cli/bitmap.h"

#include "core/endian.h"
#include "core/result.h"

namespace qef {

namespace {

const size_t kFileHeaderSize = 14;

int32_t Refuse(Text& message, const char* why) {
  message.Format("the picture is not a usable BMP file: %s", why);
  return kBadArgument;
}

}  // namespace

int32_t CheckBitmap(const unsigned char* data, size_t size, Text& message, BitmapFacts* facts) {
  if (data == nullptr || size < kFileHeaderSize + 12) return Refuse(message, "too short");
  if (data[0] != 'B' || data[1] != 'M') return Refuse(message, "it does not start with BM");
  uint32_t file_size = LoadLe32(data + 2);
  uint32_t pixels_at = LoadLe32(data + 10);
  uint32_t info_size = LoadLe32(data + 14);
  if (file_size != 0 && file_size > size) return Refuse(message, "the file is shorter than its header says");
  if (info_size != 12 && info_size != 40 && info_size != 52 && info_size != 56 && info_size != 108 && info_size != 124)
    return Refuse(message, "unknown info header size");
  if (kFileHeaderSize + info_size > size) return Refuse(message, "the info header is cut short");
  if (pixels_at < kFileHeaderSize + info_size || pixels_at >= size)
    return Refuse(message, "the pixel data offset lies outside the file");

  const unsigned char* info = data + kFileHeaderSize;
  int64_t width, height;
  uint32_t planes, bits, compression = 0;
  if (info_size == 12) {
    width = LoadLe16(info + 4);
    height = LoadLe16(info + 6);
    planes = LoadLe16(info + 8);
    bits = LoadLe16(info + 10);
  } else {
    width = static_cast<int32_t>(LoadLe32(info + 4));
    height = static_cast<int32_t>(LoadLe32(info + 8));
    planes = LoadLe16(info + 12);
    bits = LoadLe16(info + 14);
    compression = LoadLe32(info + 16);
  }
  if (height < 0) height = -height;  // rows stored top-down
  if (width < 1 || width > 32767 || height < 1 || height > 32767) return Refuse(message, "implausible size");
  if (planes != 1) return Refuse(message, "the plane count is not 1");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return Refuse(message, "unknown bits per pixel");
  if (compression > 3) return Refuse(message, "unsupported compression");
  if (compression == 0 || compression == 3) {
    uint64_t row = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    if (row * static_cast<uint64_t>(height) > size - pixels_at)
      return Refuse(message, "the pixel rows do not fit the file");
  }
  if (facts != nullptr)
    *facts = BitmapFacts{static_cast<int32_t>(width), static_cast<int32_t>(height), static_cast<int32_t>(bits)};
  return kOk;
}

}  // namespace qef
