#include "core/endian.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qef {
namespace {

// High bytes of 0x80 and above catch a load that shifts a promoted signed int.
constexpr unsigned char kBytes[9] = {0x00, 0x01, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0xF8};

TEST(Endian, LoadsReadTheLowByteFirstAtAnyOffset) {
  EXPECT_EQ(LoadLe16(kBytes + 1), 0x8201u);
  EXPECT_EQ(LoadLe32(kBytes + 1), 0x84838201u);
  EXPECT_EQ(LoadLe64(kBytes + 1), 0xF887868584838201ull);
  static_assert(LoadLe32(kBytes) == 0x83820100u, "usable in constant expressions");
}

TEST(Endian, StoresWriteExactlyTheirBytesAndRoundTrip) {
  unsigned char b[10];
  std::memset(b, 0xEE, sizeof(b));
  StoreLe64(b + 1, 0xF887868584838201ull);
  EXPECT_EQ(std::memcmp(b + 1, kBytes + 1, 8), 0);
  EXPECT_EQ(b[0], 0xEE);
  EXPECT_EQ(b[9], 0xEE);
  StoreLe32(b + 1, 0x01020304u);
  StoreLe16(b + 5, 0xABCDu);
  const unsigned char expected[6] = {0x04, 0x03, 0x02, 0x01, 0xCD, 0xAB};
  EXPECT_EQ(std::memcmp(b + 1, expected, 6), 0);
  EXPECT_EQ(LoadLe32(b + 1), 0x01020304u);
  EXPECT_EQ(LoadLe16(b + 5), 0xABCDu);
}

}  // namespace
}  // namespace qef
