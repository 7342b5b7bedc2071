#include "sfx/payload.h"

#include <gtest/gtest.h>

#include <string>

#include "core/result.h"

namespace qef {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

uint32_t U32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

TEST(PayloadBlock, FullLayoutIsWrittenAsDocumented) {
  PayloadContent c;
  c.container = B("CONTAINER");
  c.picture = B("BMxx");
  c.info = B("info");
  c.link = B("http://x");
  c.disclaimer = B("no");
  Bytes b = BuildPayloadBlock(c);
  ASSERT_EQ(b.size(), 44u + 9 + 4 + 5 + 9 + 3);
  EXPECT_EQ(b[0], 44);
  EXPECT_EQ(b[1] | b[2] | b[3], 0);
  EXPECT_EQ(U32(b, 4), 9u);
  EXPECT_EQ(U32(b, 8), 0u);
  EXPECT_EQ(std::string(b.begin() + 44, b.begin() + 53), "CONTAINER");
  // {length, offset, stored bytes including the zero}
  struct Field {
    size_t length_at, offset_at;
    std::string stored;
  } fields[] = {{12, 28, "BMxx"},
                {16, 32, std::string("info\0", 5)},
                {20, 36, std::string("http://x\0", 9)},
                {24, 40, std::string("no\0", 3)}};
  for (const Field& f : fields) {
    uint32_t length = U32(b, f.length_at), offset = U32(b, f.offset_at);
    ASSERT_EQ(length, f.stored.size()) << f.length_at;
    ASSERT_LE(offset + length, b.size()) << f.offset_at;
    EXPECT_EQ(std::string(b.begin() + offset, b.begin() + offset + length), f.stored) << f.offset_at;
  }

  PayloadView v;
  ASSERT_EQ(ParsePayloadBlock(b.data(), static_cast<uint32_t>(b.size()), v), kOk);
  EXPECT_TRUE(v.full_header);
  EXPECT_EQ(v.header_length, 44u);
  EXPECT_EQ(v.container, b.data() + 44);
  EXPECT_EQ(std::string(v.container, v.container + v.container_length), "CONTAINER");
  EXPECT_EQ(std::string(v.picture, v.picture + v.picture_length), "BMxx");
  EXPECT_STREQ(v.info.Str(), "info");
  EXPECT_STREQ(v.link.Str(), "http://x");
  EXPECT_STREQ(v.disclaimer.Str(), "no");
}

TEST(PayloadBlock, EmptyPartsRoundTrip) {
  Bytes b = BuildPayloadBlock(PayloadContent());
  ASSERT_EQ(b.size(), 44u + 3);  // three terminating zeros
  EXPECT_EQ(U32(b, 12), 0u);
  EXPECT_EQ(U32(b, 28), 0u);
  EXPECT_EQ(U32(b, 16), 1u);
  PayloadView v;
  ASSERT_EQ(ParsePayloadBlock(b.data(), static_cast<uint32_t>(b.size()), v), kOk);
  EXPECT_TRUE(v.full_header);
  EXPECT_EQ(v.container_length, 0u);
  EXPECT_EQ(v.picture, nullptr);
  EXPECT_EQ(v.picture_length, 0u);
  EXPECT_TRUE(v.info.IsEmpty());
  EXPECT_TRUE(v.link.IsEmpty());
  EXPECT_TRUE(v.disclaimer.IsEmpty());
}

// The bounded copy: at most length - 1 bytes, stopping at a zero byte.
TEST(PayloadBlock, TextLengthsCountTheTerminator) {
  struct Case {
    uint32_t length;
    std::string stored;  // at the info offset
    const char* expected;
  } cases[] = {
      {5, std::string("abcd\0", 5), "abcd"},
      {4, std::string("abcd\0", 5), "abc"},
      {0, "zzzz", ""},
      {1, "zzzz", ""},
      {2, "zzzz", "z"},
      {6, std::string("ab\0cd\0", 6), "ab"},
      {5, "abcde", "abcd"},  // no zero at all: the copy is still terminated
  };
  for (const Case& c : cases) {
    Bytes b = BuildPayloadBlock(PayloadContent());
    uint32_t offset = static_cast<uint32_t>(b.size());
    b.insert(b.end(), c.stored.begin(), c.stored.end());
    Put32(b, 16, c.length);
    Put32(b, 32, offset);
    PayloadView v;
    ASSERT_EQ(ParsePayloadBlock(b.data(), static_cast<uint32_t>(b.size()), v), kOk) << c.length;
    EXPECT_STREQ(v.info.Str(), c.expected) << c.length << " " << c.stored;
  }
  // The writer keeps the bytes, so a text with a zero inside reads back to the zero.
  PayloadContent content;
  content.disclaimer = B(std::string("accept\0hidden", 13));
  Bytes b = BuildPayloadBlock(content);
  EXPECT_EQ(U32(b, 24), 14u);
  PayloadView v;
  ASSERT_EQ(ParsePayloadBlock(b.data(), static_cast<uint32_t>(b.size()), v), kOk);
  EXPECT_STREQ(v.disclaimer.Str(), "accept");
}

TEST(PayloadBlock, OtherHeaderLengthsGiveOnlyTheContainer) {
  Bytes b(20, 0xAA);
  b[0] = 12;
  Put32(b, 4, 8);  // bytes 12..19
  PayloadView v;
  v.info = "stale";
  ASSERT_EQ(ParsePayloadBlock(b.data(), 20, v), kOk);
  EXPECT_FALSE(v.full_header);
  EXPECT_EQ(v.header_length, 12u);
  EXPECT_EQ(v.container, b.data() + 12);
  EXPECT_EQ(v.container_length, 8u);
  EXPECT_TRUE(v.info.IsEmpty());
  EXPECT_EQ(v.picture, nullptr);
  EXPECT_EQ(ParsePayloadBlock(b.data(), 19, v), kBadChunk);  // one byte short
  EXPECT_EQ(v.container, nullptr);
}

// Every length and offset that points outside the block is refused, never read.
TEST(PayloadBlock, HostileBlocksAreRefused) {
  PayloadContent c;
  c.container = B("data");
  c.picture = B("BM");
  c.info = B("i");
  c.link = B("l");
  c.disclaimer = B("d");
  const Bytes good = BuildPayloadBlock(c);
  const uint32_t size = static_cast<uint32_t>(good.size());
  struct Case {
    const char* name;
    size_t at;  // byte offset of the field changed; at 0 the header length byte
    uint32_t value;
  } cases[] = {
      {"negative header length", 0, 0x80},
      {"header length 0xFF", 0, 0xFF},
      {"header length below 8", 0, 7},
      {"container past end", 4, size - 44 + 1},
      {"container length huge", 4, 0xFFFFFFFF},
      {"picture length past end", 12, size},
      {"picture offset past end", 28, size - 1},
      {"picture offset wraps", 28, 0xFFFFFFFF},
      {"info length past end", 16, size},
      {"info offset wraps", 32, 0xFFFFFFFE},
      {"link offset past end", 36, size},
      {"disclaimer length huge", 24, 0x80000000},
      {"disclaimer offset past end", 40, size - 1},
  };
  for (const Case& k : cases) {
    Bytes b = good;
    if (k.at == 0)
      b[0] = static_cast<unsigned char>(k.value);
    else
      Put32(b, k.at, k.value);
    PayloadView v;
    EXPECT_EQ(ParsePayloadBlock(b.data(), size, v), kBadChunk) << k.name;
    EXPECT_FALSE(v.full_header) << k.name;
    EXPECT_EQ(v.container, nullptr) << k.name;
    EXPECT_TRUE(v.info.IsEmpty()) << k.name;
  }
  PayloadView v;
  EXPECT_EQ(ParsePayloadBlock(good.data(), 43, v), kBadChunk);  // the full header cut short
  EXPECT_EQ(ParsePayloadBlock(good.data(), 7, v), kBadChunk);
  EXPECT_EQ(ParsePayloadBlock(nullptr, 100, v), kBadArgument);
  // Offsets of empty parts are not looked at.
  Bytes b = good;
  Put32(b, 12, 0);
  Put32(b, 28, 0xFFFFFFFF);
  Put32(b, 16, 0);
  Put32(b, 32, 0xFFFFFFFF);
  EXPECT_EQ(ParsePayloadBlock(b.data(), size, v), kOk);
}

}  // namespace
}  // namespace qef
