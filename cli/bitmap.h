#pragma once
// The picture shown by the stub must be a complete Windows bitmap file, which the
// stub loads from a temporary file. This check refuses anything else before it goes
// into an archive: another image format, a truncated file, or a header whose numbers
// cannot describe the bytes that follow.
#include <cstddef>
#include <cstdint>

#include "core/text.h"

namespace qef {

// 0, or kBadArgument with the reason. Wanted: "BM"; a file header whose size field is
// 0 or within the data and whose pixel offset lies inside it; an info header of a
// known size (12, 40, 52, 56, 108 or 124 bytes); width 1..32767 and height
// 1..32767 either way up; one plane; 1, 4, 8, 16, 24 or 32 bits per pixel; no
// compression, RLE or bit fields; for uncompressed pixels, rows that fit the data.
// `facts`, when given, receives the picture's size on success.
struct BitmapFacts {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bits_per_pixel = 0;
};
int32_t CheckBitmap(const unsigned char* data, size_t size, Text& message, BitmapFacts* facts = nullptr);

}  // namespace qef
