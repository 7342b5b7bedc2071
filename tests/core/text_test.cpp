#include "core/text.h"

#include <gtest/gtest.h>

#include <string>

namespace qef {
namespace {

std::string S(const Text& t) { return t.CStr() == nullptr ? "<null>" : std::string(t.CStr()); }

TEST(Text, StorageLifecycle) {
  Text t;
  EXPECT_EQ(t.CStr(), nullptr);
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_EQ(t.Append(""), 1);
  EXPECT_EQ(t.CStr(), nullptr);  // appending nothing leaves it without storage
  EXPECT_EQ(t.Assign(static_cast<const char*>(nullptr)), 1);
  EXPECT_STREQ(t.CStr(), "");
  EXPECT_EQ(t.GetCapacity(), 1);
  t = "abc";
  EXPECT_EQ(t.GetLength(), 3);
  EXPECT_EQ(t.GetCapacity(), 4);  // exactly length + 1, no spare room
  Text copy(t);
  copy.Append("de");
  EXPECT_EQ(S(t), "abc");  // deep copies
  EXPECT_EQ(S(copy), "abcde");
  copy.Assign(copy.CStr() + 1);  // assigning from its own storage
  EXPECT_EQ(S(copy), "bcde");
}

TEST(Text, Pieces) {
  const Text abc("abc");
  struct Case {
    Text got;
    const char* want;
  } cases[] = {
      {abc.Left(0), ""},    {abc.Left(-3), ""},     {abc.Left(2), "ab"},    {abc.Left(5), "abc"},
      {abc.Right(2), "bc"}, {abc.Right(0), ""},     {abc.Right(9), "abc"},  {abc.Mid(1, 5), "abc"},
      {abc.Mid(1, 1), "b"}, {abc.Mid(-1, 2), "ab"}, {abc.Mid(3, 0), "abc"}, {Text::Concat(abc, "de"), "abcde"},
  };
  for (const Case& c : cases) EXPECT_EQ(S(c.got), c.want);
}

TEST(Text, Search) {
  Text abc("abc");
  EXPECT_EQ(abc.Find('c', 3), -1);
  EXPECT_EQ(abc.Find('a', -1), -1);
  EXPECT_EQ(abc.Find('c', 1), 2);
  EXPECT_EQ(abc.FindText("", 0), 0);
  EXPECT_EQ(abc.FindText("bc", 0), 1);
  EXPECT_EQ(abc.FindText("bc", 2), -1);
  EXPECT_EQ(abc.FindText(nullptr, 0), -1);
  EXPECT_EQ(Text("a/b/c").ReverseFind('/'), 3);
  EXPECT_EQ(Text().ReverseFind('/'), -1);
  EXPECT_EQ(abc.GetAt(1), 'b');
  EXPECT_EQ(abc.GetAt(3), 0);
  EXPECT_EQ(abc.GetAt(-1), 0);
}

TEST(Text, Compare) {
  EXPECT_EQ(Text::Compare(nullptr, ""), 0);
  EXPECT_LT(Text::Compare("a", "b"), 0);
  EXPECT_GT(Text::Compare("\xE4", "a"), 0);  // bytes compare unsigned
  EXPECT_EQ(Text("ABC").CompareNoCase("abc"), 0);
  EXPECT_NE(Text("\xC4").CompareNoCase("\xE4"), 0);  // only A to Z are folded
  EXPECT_EQ(Text("x").Equals("x"), 1);
  EXPECT_EQ(Text("x").NotEquals("y"), 1);
}

TEST(Text, InPlaceChanges) {
  Text t("0A FF 00");
  EXPECT_EQ(S(t.Remove(' ')), "0AFF00");
  EXPECT_EQ(S(t), "0AFF00");
  EXPECT_EQ(t.GetLength(), 6);
  Text p("D:\\a\\b");
  EXPECT_EQ(S(p.Replace('\\', '/')), "D:/a/b");
  Text m("MiXeD \xC4");
  EXPECT_EQ(S(m.MakeLower()), "mixed \xC4");
}

TEST(Text, NumberTexts) {
  EXPECT_EQ(S(Text::ToHex(10, 2, 0)), "0A");
  EXPECT_EQ(S(Text::ToHex(255, 1, 1)), "ff");
  EXPECT_EQ(S(Text::ToHex(0xABC, 6, 0)), "000ABC");
  EXPECT_EQ(S(Text::FromSigned(-5)), "-5");
  const unsigned char bytes[] = {0x0A, 0xFF, 0x00};
  EXPECT_EQ(S(Text::HexDump(bytes, 3, " ", 0)), "0A FF 00");
  EXPECT_EQ(S(Text::HexDump(nullptr, 3, " ", 0)), "");
}

TEST(Text, FormatIsBounded) {
  Text t;
  t.Format("%s-%i", "code", 711);
  EXPECT_EQ(S(t), "code-711");
  std::string big(70000, 'x');
  t.Format("%s", big.c_str());
  EXPECT_EQ(t.GetLength(), 65535);  // cut to the work area, never overflowed
}

TEST(Text, BufferAccess) {
  Text t("hello");
  char* b = t.GetBuffer(3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(t.GetLength(), 0);
  EXPECT_EQ(std::string(b, 3), "hel");
  b[1] = 0;
  t.ReleaseBuffer();
  EXPECT_EQ(S(t), "h");
  char* w = t.GetBuffer(10);
  snprintf(w, 11, "%s", "written");
  t.ReleaseBuffer();
  EXPECT_EQ(S(t), "written");
  EXPECT_EQ(t.GetLength(), 7);
}

TEST(Text, LineEndsBecomeCrlf) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"a\nb", "a\r\nb"},
      {"a\r\nb", "a\r\nb"},
      {"a\rb", "a\r\nb"},
      {"\n\n", "\r\n\r\n"},
      {"\r\r\n\n", "\r\n\r\n\r\n"},
      {"end\r", "end\r\n"},
      {"\nstart", "\r\nstart"},
  };
  for (const Case& c : cases) EXPECT_STREQ(ToCrlf(c.in).Str(), c.out) << c.in;
}

// A text built one character at a time grows its storage by a factor, so that the
// whole costs time in proportion to its length: few distinct capacities on the way.
TEST(Text, AppendingGrowsByAFactor) {
  Text t("x");
  int32_t capacity = t.GetCapacity();
  int grown = 0;
  for (int i = 0; i < 100000; ++i) {
    ASSERT_EQ(t.AppendChar(static_cast<char>('a' + i % 26)), 1);
    if (t.GetCapacity() != capacity) ++grown;
    capacity = t.GetCapacity();
  }
  EXPECT_EQ(t.GetLength(), 100001);
  EXPECT_LE(grown, 20);
  EXPECT_EQ(t.GetAt(100000), 'a' + 99999 % 26);
  t.Append(t.CStr() + 99990);  // from its own storage, which may move
  EXPECT_EQ(t.GetLength(), 100012);
  EXPECT_EQ(std::string(t.CStr() + 100001), std::string(t.CStr() + 99990, 11));
}

}  // namespace
}  // namespace qef
