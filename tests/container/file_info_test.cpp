#include "container/file_info.h"

#include <gtest/gtest.h>

#include <string>

#include "container/value_record.h"
#include "core/format.h"
#include "core/memory_stream.h"
#include "fs/filetime.h"

namespace qef {
namespace {

Value Blob(uint64_t filetime, uint32_t length) {
  unsigned char b[8];
  PutFileTimeBytes(filetime, b);
  Value v;
  v.SetBlob(b, length);
  return v;
}

std::string Bytes(Value& v) {
  MemoryStream out;
  out.OpenWrite(nullptr);
  EXPECT_EQ(SerialiseValue(v, out), 0);
  return std::string(reinterpret_cast<const char*>(out.Data()), out.Size());
}

// Only Byte 1 sets an attribute and only an 8-byte Blob is a time; anything else
// under a key reads as if the key were absent.
TEST(FileInfoList, MalformedEntriesReadAsAbsent) {
  PropertyList list;
  list.PutByte(kInfoReadOnly, 1, 1);
  list.PutByte(kInfoHidden, 2, 1);
  list.PutDWord(kInfoSystem, 1, 1);
  list.PutByte(kInfoArchive, 0, 1);
  list.PutValue(kInfoCreated, Blob(0x0123456789abcdefULL, 7), 1);
  list.PutValue(kInfoAccessed, Blob(0x0123456789abcdefULL, 8), 1);
  list.PutDWord(kInfoWritten, 5, 1);
  FileInfo info = FileInfoFromList(list);
  EXPECT_EQ(info.attributes, uint32_t(kAttrReadOnly));
  EXPECT_FALSE(info.has_created);
  EXPECT_TRUE(info.has_accessed);
  EXPECT_EQ(info.accessed, 0x0123456789abcdefULL);
  EXPECT_FALSE(info.has_written);

  FileInfo none = FileInfoFromList(PropertyList());
  EXPECT_EQ(none.attributes, 0u);
  EXPECT_FALSE(none.has_created || none.has_accessed || none.has_written);
}

// The list written for packing keeps its layout byte for byte: attributes that are
// set in the order archive, system, hidden, read-only, then the three times.
TEST(FileInfoList, StoredLayoutAndRoundTrip) {
  FileInfo info;
  info.attributes = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;
  info.has_created = info.has_accessed = info.has_written = true;
  info.created = FileTimeFromUnix(1000000000, 0);
  info.accessed = FileTimeFromUnix(1200000000, 500);
  info.written = 0xfedcba9876543210ULL;

  PropertyList expected;
  expected.PutByte(kInfoArchive, 1, 1);
  expected.PutByte(kInfoSystem, 1, 1);
  expected.PutByte(kInfoHidden, 1, 1);
  expected.PutByte(kInfoReadOnly, 1, 1);
  expected.PutValue(kInfoCreated, Blob(info.created, 8), 1);
  expected.PutValue(kInfoAccessed, Blob(info.accessed, 8), 1);
  expected.PutValue(kInfoWritten, Blob(info.written, 8), 1);
  PropertyList stored = ListFromFileInfo(info);
  EXPECT_EQ(Bytes(stored), Bytes(expected));

  FileInfo back = FileInfoFromList(stored);
  EXPECT_EQ(back.attributes, info.attributes);
  EXPECT_EQ(back.created, info.created);
  EXPECT_EQ(back.accessed, info.accessed);
  EXPECT_EQ(back.written, info.written);

  // Nothing set, nothing stored; bits outside the four are not stored.
  FileInfo other;
  other.attributes = 0x10;
  PropertyList empty = ListFromFileInfo(other);
  EXPECT_EQ(empty.GetCount(), 0);
}

}  // namespace
}  // namespace qef
