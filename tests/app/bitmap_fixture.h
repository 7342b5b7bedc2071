#pragma once
// A BMP file image for the picture of dialog 105, made by code: a sky gradient with a
// sun and a hill inside a one-pixel dark border, so that a clipped edge shows. Its
// top-left pixel is white and no other pixel is: under Wine a picture control fills
// the space around a centred picture with the colour of that pixel, so the picture's
// extent on screen can be measured against it.
#include <cstdint>
#include <vector>

namespace qef::test {

inline std::vector<unsigned char> MakeBitmapFile(int width, int height) {
  const int row = (width * 3 + 3) & ~3;
  const uint32_t pixels = static_cast<uint32_t>(row * height);
  const uint32_t offset = 14 + 40;
  std::vector<unsigned char> bmp(offset + pixels, 0);
  auto put16 = [&](size_t at, uint32_t v) {
    bmp[at] = static_cast<unsigned char>(v);
    bmp[at + 1] = static_cast<unsigned char>(v >> 8);
  };
  auto put32 = [&](size_t at, uint32_t v) {
    put16(at, v & 0xFFFF);
    put16(at + 2, v >> 16);
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, static_cast<uint32_t>(bmp.size()));
  put32(10, offset);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));  // bottom-up rows
  put16(26, 1);
  put16(28, 24);
  put32(34, pixels);
  for (int y = 0; y < height; ++y) {  // y counts from the top
    for (int x = 0; x < width; ++x) {
      int r = 40 + 80 * y / height, g = 90 + 110 * y / height, b = 200;  // sky
      int sx = x - width * 3 / 4, sy = y - height / 4, sun = height / 6;
      if (sx * sx + sy * sy <= sun * sun) r = 250, g = 200, b = 40;
      int64_t hx = x - width / 3;
      if (y > height * 2 / 3 + hx * hx * height / (static_cast<int64_t>(width) * width)) r = 40, g = 140, b = 60;
      if (x == 0 || y == 0 || x == width - 1 || y == height - 1) r = 20, g = 20, b = 20;
      if (x == 0 && y == 0) r = 255, g = 255, b = 255;
      unsigned char* p = &bmp[offset + static_cast<size_t>((height - 1 - y) * row + x * 3)];
      p[0] = static_cast<unsigned char>(b);
      p[1] = static_cast<unsigned char>(g);
      p[2] = static_cast<unsigned char>(r);
    }
  }
  return bmp;
}

}  // namespace qef::test
