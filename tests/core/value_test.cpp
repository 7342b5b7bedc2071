#include "core/value.h"

#include <gtest/gtest.h>

#include "core/array.h"
#include "core/heap.h"

namespace qef {
namespace {

TEST(ValueArray, GrowthRule) {
  ValueArray a;
  int32_t caps[13];
  Value v;
  for (int i = 0; i < 13; ++i) {
    a.Append(v);
    caps[i] = a.GetCapacity();
  }
  // Appending one at a time: capacities 1, 5, 9, 13.
  EXPECT_EQ(caps[0], 1);
  EXPECT_EQ(caps[1], 5);
  EXPECT_EQ(caps[5], 9);
  EXPECT_EQ(caps[12], 13);

  ValueArray b;
  b.SetSize(40);
  EXPECT_EQ(b.GetCapacity(), 40);
  b.Append(v);
  EXPECT_EQ(b.GetCapacity(), 45);  // step 40 / 8

  b.SetSize(0);
  EXPECT_EQ(b.GetCapacity(), 0);
  b.SetSize(3);
  EXPECT_EQ(b.GetCapacity(), 3);  // a fresh block of exactly 3

  IntArray i;
  i.SetSize(5);
  i.SetSize(2);
  EXPECT_EQ(i.GetCapacity(), 5);  // never shrunk
  i[0] = 9;
  i.SetSize(4);
  EXPECT_EQ(i[0], 9);
  EXPECT_EQ(i[2], 0);
  EXPECT_EQ(i[3], 0);
  EXPECT_EQ(i.GetCapacity(), 5);
  i.SetSize(100, 0);
  EXPECT_EQ(i.GetCapacity(), 100);  // n is larger than capacity + 4
}

TEST(ValueArray, RelocationKeepsOwnedStorage) {
  ValueArray a;
  Value s;
  s.SetString("kept");
  a.Append(s);
  const char* before = a[0].GetString();
  for (int k = 0; k < 50; ++k) a.Append(Value());
  EXPECT_EQ(a[0].GetString(), before);  // moved, not copied
  a.SetSize(1);
  EXPECT_STREQ(a[0].GetString(), "kept");
}

TEST(Value, BytesAndTexts) {
  Value v;
  const unsigned char two[] = {1, 2};
  const unsigned char three[] = {3, 4, 5};
  v.SetBlob(two, 2);
  v.AppendBytes(three, 3);
  ASSERT_TRUE(v.IsBlobOf(5));
  EXPECT_EQ(v.GetBytes()[4], 5);
  v.SetString("text");
  v.AppendBytes(three, 3);
  EXPECT_TRUE(v.IsBlobOf(3));
  EXPECT_EQ(v.GetBytes()[0], 3);

  const unsigned char hex[] = {0x0A, 0xFF, 0x00};
  v.SetBlob(hex, 3);
  EXPECT_STREQ(v.ToHexText().Str(), "0A FF 00");
  v.SetBlobSize(0);
  EXPECT_STREQ(v.ToHexText().Str(), "");

  v.SetString("");
  EXPECT_EQ(v.GetType(), kString);
  EXPECT_EQ(v.GetSize(), 1u);
  v.SetString(nullptr);
  EXPECT_EQ(v.GetSize(), 0u);
  EXPECT_STREQ(v.GetString(), "");
}

TEST(Value, DeepCopies) {
  // A value with an opaque tag is copied as a Blob with the same bytes and key.
  unsigned char* block = static_cast<unsigned char*>(HeapBlockAlloc(3));
  block[0] = 9;
  block[1] = 8;
  block[2] = 7;
  Value opaque;
  opaque.AdoptBytes(7, block, 3);
  opaque.SetKey(42);
  Value copy7(opaque);
  EXPECT_EQ(copy7.GetType(), kBlob);
  EXPECT_EQ(copy7.GetKey(), 42);
  ASSERT_EQ(copy7.GetSize(), 3u);
  EXPECT_EQ(copy7.GetBytes()[2], 7);

  PropertyList list;
  list.PutString(1, "a", 1);
  PropertyList inner;
  inner.PutByte(2, 5, 1);
  list.PutValue(3, inner, 1);
  PropertyList copy(list);
  EXPECT_TRUE(copy == list);
  copy.PutString(1, "changed", 1);
  EXPECT_STREQ(list.GetString(1, "").Str(), "a");
  PropertyList got = list.GetList(3);
  EXPECT_EQ(got.GetByte(2, 0), 5);
  got.PutByte(2, 6, 1);
  EXPECT_EQ(list.GetList(3).GetByte(2, 0), 5);  // getters hand out copies
}

TEST(PropertyList, KeyedAccess) {
  PropertyList p;
  p.PutByte(20, 2, 1);
  p.PutByte(20, 2, 1);
  EXPECT_EQ(p.GetCount(), 1);
  PropertyList q;
  q.PutByte(20, 2, 0);
  q.PutByte(20, 3, 0);
  EXPECT_EQ(q.GetCount(), 2);
  EXPECT_EQ(q.GetByte(20, 9), 2);  // the first match wins

  Value w;
  w.SetWord(2);
  p.PutValue(21, w, 1);
  EXPECT_EQ(p.GetDWord(21, 77), 77u);  // wrong tag: the default
  EXPECT_EQ(p.GetByte(21, 7), 7);
  Value i;
  i.SetInt(5);
  p.PutValue(22, i, 1);
  EXPECT_EQ(p.GetDWord(22, 1), 1u);
  p.PutDWord(23, 123456, 1);
  EXPECT_EQ(p.GetDWord(23, 0), 123456u);
  EXPECT_STREQ(p.GetString(24, "dflt").Str(), "dflt");

  Value absent = p.GetValue(25);
  EXPECT_EQ(absent.GetType(), kEmpty);
  EXPECT_EQ(absent.GetKey(), 25);

  p.PutByte(20, 4, 1);  // replace keeps the place
  EXPECT_EQ(p.FindIndex(20), 0);
  EXPECT_EQ(p.GetByte(20, 0), 4);
  EXPECT_EQ(p.GetList(20).GetCount(), 0);  // not a List: an empty list
}

}  // namespace
}  // namespace qef
