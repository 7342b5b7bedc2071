#include "container/value_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/memory_stream.h"
#include "core/result.h"
#include "fs/file_stream.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

std::string Bytes(Value& v) {
  MemoryStream out;
  out.OpenWrite(nullptr);
  EXPECT_EQ(SerialiseValue(v, out), 0);
  return std::string(reinterpret_cast<const char*>(out.Data()), out.Size());
}

int32_t ReadBack(const std::string& bytes, Value& v) {
  MemoryStream in;
  in.OpenRead(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
  return SerialiseValue(v, in);
}

TEST(ValueRecord, VerbatimLayouts) {
  PropertyList empty_list;
  EXPECT_EQ(Bytes(empty_list), std::string("\x02\x00\x00\x00\x04\x00\x00\x00\x00\x00\x00\x00", 12));

  Value byte;
  byte.SetByte(2);
  byte.SetKey(20);
  EXPECT_EQ(Bytes(byte), std::string("\x0A\x00\x14\x00\x01\x00\x00\x00\x02", 9));

  Value s300;
  s300.SetString(std::string(300, 'x').c_str());
  std::string b = Bytes(s300);
  EXPECT_EQ(b.substr(0, 13), std::string("\x6E\x00\x00\x00\x31\x01\x00\x00\xFF\x2C\x01\x00\x00", 13));
  EXPECT_EQ(b.size(), 8u + 305u);

  Value s0;
  s0.SetString("");
  EXPECT_EQ(Bytes(s0), std::string("\x6E\x00\x00\x00\x01\x00\x00\x00\x00", 9));
  Value back;
  ASSERT_EQ(ReadBack(Bytes(s0), back), 0);
  EXPECT_EQ(back.GetType(), kString);
  EXPECT_STREQ(back.GetString(), "");

  PropertyList list;
  list.PutDWord(30, 0x01020304, 1);
  EXPECT_EQ(Bytes(list), std::string("\x02\x00\x00\x00\x10\x00\x00\x00\x01\x00\x00\x00"
                                     "\x28\x00\x1E\x00\x04\x00\x00\x00\x04\x03\x02\x01",
                                     24));
  EXPECT_EQ(RecordSize(list), 24u);
}

TEST(ValueRecord, EveryTagRoundTripsThroughAFile) {
  PropertyList root;
  Value v;
  v.SetByte(200);
  root.PutValue(1, v, 0);
  v.SetWord(0xBEEF);
  root.PutValue(2, v, 0);
  v.SetDWord(0xFFFFFFFF);
  root.PutValue(3, v, 0);
  v.SetInt(-7);
  root.PutValue(4, v, 0);
  v.SetDouble(-2.5e-300);
  root.PutValue(5, v, 0);
  v.SetString(std::string(1000, 'q').c_str());
  root.PutValue(6, v, 0);
  const unsigned char blob[] = {0, 1, 2, 255};
  v.SetBlob(blob, 4);
  root.PutValue(7, v, 0);
  v.SetBlobSize(0);
  root.PutValue(8, v, 0);
  root.PutValue(9, Value(), 0);
  PropertyList nested;
  nested.PutString(1, "inner", 1);
  PropertyList deeper;
  deeper.PutByte(2, 1, 1);
  nested.PutValue(3, deeper, 1);
  root.PutValue(10, nested, 0);
  root.PutValue(10, nested, 0);  // duplicate keys are kept in order

  test::TempDir dir;
  Text path = dir.Sub("values.bin");
  FileStream out;
  ASSERT_EQ(out.Open(kModeWriting, path, nullptr), 0);
  ASSERT_EQ(SerialiseValue(root, out), 0);
  EXPECT_EQ(out.GetTotal(), RecordSize(root));
  out.Close();

  FileStream in;
  ASSERT_EQ(in.Open(kModeReading, path, nullptr), 0);
  PropertyList read;
  ASSERT_EQ(SerialiseValue(read, in), 0);
  ASSERT_EQ(read.GetCount(), root.GetCount());
  for (int32_t i = 0; i < root.GetCount(); ++i) {
    // Scalars and lists keep the record's length as their size; compare contents.
    Value a = root.At(i), b = read.At(i);
    EXPECT_EQ(a, b) << "item " << i;
  }
  EXPECT_EQ(read.GetList(10).GetList(3).GetByte(2, 0), 1);
}

TEST(ValueRecord, UnknownTagsAreKeptAsOpaqueBytes) {
  std::string rec("\x07\x00\x2A\x00\x03\x00\x00\x00\xAA\xBB\xCC", 11);
  Value v;
  ASSERT_EQ(ReadBack(rec, v), 0);
  EXPECT_EQ(v.GetType(), 7);
  EXPECT_EQ(v.GetKey(), 42);
  ASSERT_EQ(v.GetSize(), 3u);
  EXPECT_EQ(v.GetBytes()[1], 0xBB);
  EXPECT_EQ(Bytes(v), rec);  // written back as it came
}

TEST(ValueRecord, HostileSizesEndQuicklyWithACode) {
  struct Case {
    std::string bytes;
    int32_t code;
  } cases[] = {
      // A list announcing 2^31-1 items with only two behind it.
      {std::string("\x02\x00\x00\x00\x00\x00\x00\x00\xFF\xFF\xFF\x7F", 12) +
           std::string("\x00\x00\x00\x00\x00\x00\x00\x00", 8) + std::string("\x00\x00\x00\x00\x00\x00\x00\x00", 8),
       kShortRead},
      // A blob of 4 GiB - 1 bytes with three behind it.
      {std::string("\x01\x00\x00\x00\xFF\xFF\xFF\xFF\x01\x02\x03", 11), kShortRead},
      // A string whose counted length is 2^31-1.
      {std::string("\x6E\x00\x00\x00\x05\x00\x00\x00\xFF\xFF\xFF\xFF\x7F"
                   "abc",
                   16),
       kShortRead},
      // Truncated inside a header.
      {std::string("\x0A\x00\x14", 3), kShortRead},
  };
  for (const Case& c : cases) {
    Value v;
    EXPECT_EQ(ReadBack(c.bytes, v), c.code);
  }
  // Nested lists each announcing huge counts: memory follows the bytes read.
  std::string deep;
  for (int i = 0; i < 60; ++i) deep += std::string("\x02\x00\x00\x00\x00\x00\x00\x00\xFF\xFF\xFF\x7F", 12);
  Value v;
  EXPECT_EQ(ReadBack(deep, v), kShortRead);
}

// Each nested list is a call deeper: a file of nothing but list headers must not reach
// the end of the stack (the stub's worker has far less of it than a Linux process).
TEST(ValueRecord, NestingEndsAtSixtyFourLists) {
  const std::string header("\x02\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00", 12);
  std::string deepest;
  for (int i = 0; i < 64; ++i) deepest += header;
  deepest += std::string("\x00\x00\x00\x00\x00\x00\x00\x00", 8);  // an empty value at the bottom
  Value v;
  ASSERT_EQ(ReadBack(deepest, v), 0);
  // Written back as it came, at once: measuring does not repeat itself at every level.
  EXPECT_EQ(Bytes(v).size(), deepest.size());

  std::string hostile;
  for (int i = 0; i < 200000; ++i) hostile += header;
  EXPECT_EQ(ReadBack(hostile, v), kOutOfMemory);
}

}  // namespace
}  // namespace qef
