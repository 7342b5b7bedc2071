#include "container/item_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container/value_record.h"
#include "container/writer.h"
#include "core/format.h"
#include "core/memory_stream.h"
#include "core/result.h"
#include "fs/fs.h"
#include "tests/container/fixture.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

// Value record headers, by hand: tag, key, length (never read), and a list's count.
std::string Head(uint16_t tag, uint32_t count = 0) {
  std::string h{static_cast<char>(tag & 0xFF), static_cast<char>(tag >> 8), 0, 0, 0, 0, 0, 0};
  if (tag == kList) h += std::string{static_cast<char>(count & 0xFF), static_cast<char>(count >> 8), 0, 0};
  return h;
}

// An item's properties as a List record: kind and name.
std::string Properties(uint8_t kind, const char* name) {
  PropertyList p;
  p.PutByte(kItemKind, kind, 1);
  p.PutString(kItemName, name, 1);
  return test::RecordBytes(p);
}

std::string Size(uint32_t n) { return std::string(reinterpret_cast<const char*>(&n), 4); }

struct Read {
  std::vector<std::string> items;  // "name:kind:data"
  int32_t error = 0;
};

// Reads every item of the bytes, taking each file's data in pieces.
Read ReadAll(const std::string& bytes) {
  MemoryStream in;
  in.OpenRead(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
  ItemReader reader(in);
  ItemHeader item;
  Read r;
  while (reader.NextItem(item)) {
    std::string data;
    const unsigned char* piece = nullptr;
    uint32_t length = 0;
    while (reader.ReadData(piece, length)) data.append(reinterpret_cast<const char*>(piece), length);
    r.items.push_back(std::string(item.name.Str()) + ":" + std::to_string(item.kind) + ":" + data);
  }
  r.error = reader.GetError();
  return r;
}

// What a writer stores comes back item by item, in order, with names, information
// and data; data left unread is skipped by the next NextItem.
TEST(ItemReader, YieldsWhatTheWriterStored) {
  test::TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("src/sub/")), 0);
  std::string big = test::SampleBytes(ItemReader::kBufferSize + 12345, 7);
  test::WriteFileBytes(dir.Sub("src/sub/big.bin"), big);
  test::WriteFileBytes(dir.Sub("src/empty.txt"), "");
  test::WriteFileBytes(dir.Sub("src/z.txt"), "last");
  PropertyList content;
  ASSERT_EQ(CollectSources({dir.Sub("src")}, content, nullptr, nullptr), 0);
  MemoryStream out;
  StreamParams params;
  out.OpenWrite(&params);
  ASSERT_EQ(WriteContentList(content, out), 0);
  std::string bytes(reinterpret_cast<const char*>(out.Data()), out.Size());

  Read all = ReadAll(bytes);
  EXPECT_EQ(all.error, 0);
  EXPECT_EQ(all.items,
            (std::vector<std::string>{"src:1:", "empty.txt:0:", "sub:1:", "big.bin:0:" + big, "z.txt:0:last"}));

  MemoryStream in;
  in.OpenRead(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
  ItemReader reader(in);
  ItemHeader item;
  std::vector<std::string> seen;
  while (reader.NextItem(item)) {
    seen.push_back(std::string(item.StoredPath().Str()) + " " + std::to_string(item.size));
    EXPECT_EQ(item.info.GetCount(),
              content.At(static_cast<int32_t>(seen.size()) - 1).GetFsItem()->GetList(kItemInfo).GetCount());
  }
  EXPECT_EQ(reader.GetError(), 0);
  EXPECT_EQ(seen, (std::vector<std::string>{"src 0", "src/empty.txt 0", "src/sub 0",
                                            "src/sub/big.bin " + std::to_string(big.size()), "src/z.txt 4"}));
}

// Items are found wherever the records hold them, in the order a recursive reading
// meets them; what is not an item is read and dropped; faults end with their code.
TEST(ItemReader, FindsItemsWhereverRecordsHoldThem) {
  const std::string file_a = Head(kFsItem) + Properties(0, "a") + Size(2) + "AA";
  const std::string folder_b = Head(kFsItem) + Properties(1, "b");
  std::string dword = Head(kDWord) + Size(7);
  // An item whose properties hold another item: the inner one comes first.
  PropertyList outer;
  outer.PutString(kItemName, "outer", 1);
  std::string outer_props = test::RecordBytes(outer);
  outer_props.replace(8, 4, Size(2));  // one more record in the list: the inner item
  std::string holder = Head(kFsItem) + outer_props + folder_b + Size(1) + "O";
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> items;
    int32_t error;
  } cases[] = {
      {"plain list", Head(kList, 3) + file_a + dword + folder_b, {"a:0:AA", "b:1:"}, 0},
      {"items in a nested list", Head(kList, 2) + Head(kList, 2) + folder_b + dword + file_a, {"b:1:", "a:0:AA"}, 0},
      {"an item as the whole content", file_a, {"a:0:AA"}, 0},
      {"no list at all", dword, {}, 0},
      {"an item inside an item's properties", Head(kList, 1) + holder, {"b:1:", "outer:0:O"}, 0},
      {"an item's properties that are not a list", Head(kList, 1) + Head(kFsItem) + dword, {}, kFailed},
      {"a hostile count", Head(kList, 0xFFFF) + file_a, {"a:0:AA"}, kShortRead},
      {"data cut short", Head(kList, 1) + Head(kFsItem) + Properties(0, "a") + Size(1000) + "AA", {"a:0:"}, kShortRead},
  };
  for (const Case& c : cases) {
    Read r = ReadAll(c.bytes);
    EXPECT_EQ(r.items, c.items) << c.what;
    EXPECT_EQ(r.error, c.error) << c.what;
  }
}

// Lists and items share one nesting limit: an item inside 62 lists is read (its
// properties are the 64th record deep), one list more is refused with 101.
TEST(ItemReader, NestingEndsAtSixtyFourRecords) {
  const std::string item = Head(kFsItem) + Properties(1, "x");
  std::string deepest;
  for (int i = 0; i < 62; ++i) deepest += Head(kList, 1);
  EXPECT_EQ(ReadAll(deepest + item).items, std::vector<std::string>{"x:1:"});
  EXPECT_EQ(ReadAll(deepest + item).error, 0);
  Read r = ReadAll(Head(kList, 1) + deepest + item);
  EXPECT_TRUE(r.items.empty());
  EXPECT_EQ(r.error, kOutOfMemory);
}

// An item's properties are bounded: a name as long as any system can create is read,
// one beyond what the properties may take is refused with 101 before it is read, as is
// the sum of many values each below the bound, and a long record outside any item.
TEST(ItemReader, PropertiesAreBoundedLikeTheNesting) {
  const uint32_t kLongestName = 3 * 32767;
  auto item = [](const std::vector<std::string>& strings) {
    PropertyList p;
    p.PutByte(kItemKind, 1, 1);
    for (size_t i = 0; i < strings.size(); ++i) p.PutString(static_cast<uint16_t>(200 + i), strings[i].c_str(), 1);
    return Head(kList, 1) + Head(kFsItem) + test::RecordBytes(p);
  };
  std::string longest(kLongestName, 'n');
  std::string too_long(ItemReader::kMaxProperties + 1, 'n');
  Value dropped;
  dropped.SetString(too_long.c_str());
  std::string outside = Head(kList, 2) + test::RecordBytes(dropped) + Head(kFsItem) + Properties(1, "x");
  struct Case {
    const char* what;
    std::string bytes;
    int32_t code;
  } cases[] = {
      {"a name and a folder as long as a system allows", item({longest, longest}), 0},
      {"a name beyond the bound", item({too_long}), kOutOfMemory},
      {"three names that add up beyond it", item({longest, longest, longest}), kOutOfMemory},
      {"a record outside an item beyond it", outside, kOutOfMemory},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Read r = ReadAll(c.bytes);
    EXPECT_EQ(r.error, c.code);
    EXPECT_EQ(r.items.size(), c.code == 0 ? 1u : 0u);
  }
}

}  // namespace
}  // namespace qef
