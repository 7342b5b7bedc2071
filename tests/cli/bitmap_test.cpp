#include "cli/bitmap.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/result.h"

namespace qef {
namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// A 3x2 picture, 24 bits per pixel: rows of 9 bytes padded to 12.
Bytes SmallBitmap() {
  Bytes b(14 + 40 + 2 * 12, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  Put32(b, 10, 54);
  Put32(b, 14, 40);
  Put32(b, 18, 3);
  Put32(b, 22, 2);
  Put16(b, 26, 1);
  Put16(b, 28, 24);
  return b;
}

TEST(Bitmap, AcceptsPlausibleFiles) {
  Text message;
  Bytes b = SmallBitmap();
  EXPECT_EQ(CheckBitmap(b.data(), b.size(), message), kOk) << message.Str();
  Bytes top_down = SmallBitmap();
  Put32(top_down, 22, static_cast<uint32_t>(-2));
  EXPECT_EQ(CheckBitmap(top_down.data(), top_down.size(), message), kOk) << message.Str();
  Bytes no_size = SmallBitmap();
  Put32(no_size, 2, 0);
  EXPECT_EQ(CheckBitmap(no_size.data(), no_size.size(), message), kOk) << message.Str();
  // The old 12-byte info header: 16-bit width and height, 1 bit per pixel.
  Bytes core(14 + 12 + 8, 0);
  core[0] = 'B';
  core[1] = 'M';
  Put32(core, 10, 26);
  Put32(core, 14, 12);
  Put16(core, 18, 8);
  Put16(core, 20, 2);
  Put16(core, 22, 1);
  Put16(core, 24, 1);
  EXPECT_EQ(CheckBitmap(core.data(), core.size(), message), kOk) << message.Str();
}

TEST(Bitmap, RefusesImplausibleFiles) {
  using Edit = void (*)(Bytes&);
  struct Case {
    const char* name;
    Edit edit;
  } cases[] = {
      {"PNG signature", [](Bytes& b) { b[0] = 0x89, b[1] = 'P'; }},
      {"too short", [](Bytes& b) { b.resize(20); }},
      {"size field past the data", [](Bytes& b) { Put32(b, 2, static_cast<uint32_t>(b.size() + 1)); }},
      {"pixels before the headers end", [](Bytes& b) { Put32(b, 10, 40); }},
      {"pixels past the end", [](Bytes& b) { Put32(b, 10, static_cast<uint32_t>(b.size())); }},
      {"unknown info header", [](Bytes& b) { Put32(b, 14, 64); }},
      {"zero width", [](Bytes& b) { Put32(b, 18, 0); }},
      {"negative width", [](Bytes& b) { Put32(b, 18, static_cast<uint32_t>(-3)); }},
      {"zero height", [](Bytes& b) { Put32(b, 22, 0); }},
      {"huge height", [](Bytes& b) { Put32(b, 22, 40000); }},
      {"two planes", [](Bytes& b) { Put16(b, 26, 2); }},
      {"7 bits", [](Bytes& b) { Put16(b, 28, 7); }},
      {"JPEG inside", [](Bytes& b) { Put32(b, 30, 4); }},
      {"rows cut short", [](Bytes& b) { b.resize(b.size() - 1), Put32(b, 2, 0); }},
  };
  for (const Case& c : cases) {
    Bytes b = SmallBitmap();
    c.edit(b);
    Text message;
    EXPECT_EQ(CheckBitmap(b.data(), b.size(), message), kBadArgument) << c.name;
    EXPECT_FALSE(message.IsEmpty()) << c.name;
  }
  Text message;
  EXPECT_EQ(CheckBitmap(nullptr, 100, message), kBadArgument);
}

}  // namespace
}  // namespace qef
