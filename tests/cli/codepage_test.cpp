#include "cli/codepage.h"

#include <gtest/gtest.h>

#include <string>

#include "core/result.h"

namespace qef {
namespace {

CodePage Page(uint32_t number) {
  CodePage p;
  p.number = number;
  return p;
}

TEST(CodePage, Parse) {
  struct Case {
    const char* text;
    bool raw;
    uint32_t number;
  } cases[] = {
      {"1252", false, 1252},
      {"437", false, 437},
      {"65001", false, 65001},
      {"raw", true, 0},
  };
  for (const Case& c : cases) {
    CodePage page;
    Text message;
    ASSERT_EQ(ParseCodePage(c.text, page, message), kOk) << c.text;
    EXPECT_EQ(page.raw, c.raw) << c.text;
    EXPECT_EQ(page.number, c.number) << c.text;
  }
  const char* refused[] = {"0", "65536", "12a", "", "-1252", "RAW", "cp1252", " 1252"};
  for (const char* text : refused) {
    CodePage page;
    Text message;
    EXPECT_EQ(ParseCodePage(text, page, message), kBadArgument) << text;
    EXPECT_FALSE(message.IsEmpty()) << text;
  }
}

// Both ways, on the system's converter: exact counterparts only.
TEST(CodePage, ConvertsBothWays) {
  struct Case {
    uint32_t page;
    const char* utf8;
    std::string bytes;
  } cases[] = {
      {1252,
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC",
       "Gr\xFC\xDF"
       "e \x80"},
      {437, "\xC3\xA4 \xE2\x95\x94", "\x84 \xC9"},
      {1251, "\xD0\x9F\xD1\x80\xD0\xB8", "\xCF\xF0\xE8"},
      {932, "\xE6\x97\xA5\xE6\x9C\xAC", "\x93\xFA\x96\x7B"},
      {1252, "plain ASCII\r\n", "plain ASCII\r\n"},
      {1252, "", ""},
      {65001, "\xE2\x82\xAC", "\xE2\x82\xAC"},
  };
  for (const Case& c : cases) {
    Text out, back, message;
    ASSERT_EQ(FromUtf8(c.utf8, Page(c.page), out, message), kOk) << c.page << " " << c.utf8 << ": " << message.Str();
    EXPECT_EQ(std::string(out.Str()), c.bytes) << c.page << " " << c.utf8;
    ASSERT_EQ(ToUtf8(c.bytes.c_str(), Page(c.page), back, message), kOk) << c.page << ": " << message.Str();
    EXPECT_STREQ(back.Str(), c.utf8) << c.page;
  }
}

// A character without an exact counterpart is refused and named, even where the
// system knows a look-alike (A with macron would become plain A).
TEST(CodePage, RefusesCharactersTheCodePageCannotHold) {
  struct Case {
    uint32_t page;
    const char* utf8;
    const char* names;
  } cases[] = {
      {1252, "ab\xC3\xA9\xC4\x80z", "U+0100 (\xC4\x80)"},
      {437, "price \xE2\x82\xAC", "U+20AC (\xE2\x82\xAC)"},
      {1252, "smile \xF0\x9F\x98\x80", "U+1F600 (\xF0\x9F\x98\x80)"},
      {1252,
       "\xE2\x80\x9C"
       "q\xE2\x80\x9D \xE2\x88\x9E",
       "U+221E (\xE2\x88\x9E)"},
  };
  for (const Case& c : cases) {
    Text out("kept"), message;
    EXPECT_EQ(FromUtf8(c.utf8, Page(c.page), out, message), kBadArgument) << c.utf8;
    EXPECT_NE(std::string(message.Str()).find(c.names), std::string::npos) << message.Str();
    EXPECT_NE(std::string(message.Str()).find(std::to_string(c.page)), std::string::npos) << message.Str();
    EXPECT_STREQ(out.Str(), "kept");
  }
}

TEST(CodePage, RefusesBadInput) {
  Text out, message;
  // Not UTF-8: a stray continuation byte, an overlong form, a surrogate, a cut sequence.
  const char* bad[] = {"a\x80", "\xC0\xAF", "\xED\xA0\x80", "ab\xE2\x82"};
  for (const char* s : bad) {
    EXPECT_EQ(FromUtf8(s, Page(1252), out, message), kBadArgument) << s;
    EXPECT_NE(std::string(message.Str()).find("UTF-8"), std::string::npos) << message.Str();
    EXPECT_EQ(ToUtf8(s, Page(65001), out, message), kBadArgument) << s;
  }
  // A lead byte of code page 932 with nothing after it.
  EXPECT_EQ(ToUtf8("ab\x93", Page(932), out, message), kBadArgument);
  EXPECT_EQ(FromUtf8("a", Page(1200), out, message), kUnsupported);  // UTF-16 holds zero bytes
  EXPECT_EQ(FromUtf8("a", Page(4711), out, message), kUnsupported);
  EXPECT_NE(std::string(message.Str()).find("4711"), std::string::npos) << message.Str();
  EXPECT_EQ(ToUtf8("a", Page(4711), out, message), kUnsupported);
}

TEST(CodePage, RawPassesBytesUnchanged) {
  CodePage raw;
  raw.raw = true;
  const char* bytes = "\x80\xFF\xC0 x";
  Text out, message;
  ASSERT_EQ(FromUtf8(bytes, raw, out, message), kOk);
  EXPECT_STREQ(out.Str(), bytes);
  ASSERT_EQ(ToUtf8(bytes, raw, out, message), kOk);
  EXPECT_STREQ(out.Str(), bytes);
}

}  // namespace
}  // namespace qef
