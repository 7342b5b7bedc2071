#include "cli/listing.h"

#include <gtest/gtest.h>

#include "core/format.h"
#include "fs/filetime.h"
#include "fs/fs.h"

namespace qef {
namespace {

TEST(Listing, FileTimesInUtc) {
  struct Case {
    uint64_t filetime;
    const char* text;
  } cases[] = {
      {0, "1601-01-01 00:00:00"},
      {kFileTimeUnixEpoch, "1970-01-01 00:00:00"},
      {116444735990000000ull, "1969-12-31 23:59:59"},
      {125963012960000000ull + 9999999, "2000-02-29 12:34:56"},  // a leap day; fractions dropped
      {133801631990000000ull, "2024-12-31 23:59:59"},
  };
  for (const Case& c : cases) EXPECT_STREQ(FormatFileTime(c.filetime, false).Str(), c.text) << c.filetime;
  EXPECT_STREQ(FormatFileTime(133801631990000000ull, true).Str(), "2024-12-31T23:59:59Z");
}

TEST(Listing, JsonStrings) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\b", "\"a\\\\b\""},
      {"line\nend\x1F\x7F", "\"line\\u000Aend\\u001F\\u007F\""},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       "\"Gr\xC3\xBC\xC3\x9F"
       "e\""},
      {"", "\"\""},
  };
  for (const Case& c : cases) EXPECT_STREQ(JsonString(c.in).Str(), c.out) << c.in;
}

ListedItem Item(int32_t kind, uint32_t size, const char* folder, const char* name) {
  ListedItem item;
  item.kind = kind;
  item.size = size;
  item.folder = folder;
  item.name = name;
  return item;
}

TEST(Listing, LinesAndJsonObjects) {
  CodePage page;  // 1252
  ListedItem file = Item(0, 1234, "docs/", "\xC4rger.txt");
  file.info.PutByte(kInfoReadOnly, 1, 1);
  file.info.PutByte(kInfoArchive, 1, 1);
  unsigned char t[8];
  PutFileTimeBytes(133801631990000000ull, t);
  Value written;
  written.SetBlob(t, 8);
  file.info.PutValue(kInfoWritten, written, 1);
  ListedItem folder = Item(1, 0, "docs/", "empty");

  EXPECT_STREQ(JsonItem(file, page).Str(),
               "{\"name\": \"docs/\xC3\x84rger.txt\", \"kind\": \"file\", \"size\": 1234, "
               "\"attributes\": [\"read-only\", \"archive\"], \"modified\": \"2024-12-31T23:59:59Z\"}");
  EXPECT_STREQ(JsonItem(folder, page).Str(),
               "{\"name\": \"docs/empty/\", \"kind\": \"folder\", \"size\": 0, \"attributes\": []}");
  // JSON names the file as extraction creates it: DEL is one character there, while
  // the terminal's line shows it escaped.
  ListedItem del = Item(0, 1, "",
                        "\x7F"
                        "del");
  EXPECT_STREQ(JsonItem(del, page).Str(),
               "{\"name\": \"\\u007Fdel\", \"kind\": \"file\", \"size\": 1, \"attributes\": []}");
  EXPECT_NE(std::string(ListLine(del, page).Str()).find("\\x7Fdel"), std::string::npos);
  EXPECT_STREQ(AttributeLetters(file.info).Str(), "R--A");
  std::string line = ListLine(folder, page).Str();
  EXPECT_EQ(line.substr(0, 4), "----");
  EXPECT_EQ(line.substr(line.size() - 11), "docs/empty/");
  line = ListLine(file, page).Str();
  EXPECT_NE(line.find("1234  2024-12-31 23:59:59  docs/"), std::string::npos) << line;
}

}  // namespace
}  // namespace qef
