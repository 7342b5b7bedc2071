#include "cli/pattern.h"

#include <gtest/gtest.h>

namespace qef {
namespace {

TEST(Pattern, Wildcards) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  } cases[] = {
      {"a.txt", "a.txt", true},
      {"a.txt", "a.txt2", false},
      {"*.txt", "doc/a.txt", true},  // '*' takes '/' too, as tar's does
      {"*.txt", "a.txt.bak", false},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"?.txt", "\xC3\xBC.txt", true},  // one UTF-8 character
      {"??.txt", "\xC3\xBC.txt", false},
      {"[ab].txt", "b.txt", true},
      {"[!ab].txt", "b.txt", false},
      {"[a-c]x", "cx", true},
      {"[a-c]x", "dx", false},
      {"[]]", "]", true},
      {"[x", "[x", true},  // a set that is not closed is a '['
      {"\\*", "*", true},
      {"\\*", "a", false},
      {"", "", true},
      {"*", "", true},
  };
  for (const Case& c : cases) EXPECT_EQ(WildcardMatch(c.pattern, c.text), c.match) << c.pattern << " " << c.text;
}

TEST(Pattern, ChoosingAndExcluding) {
  struct Case {
    const char* pattern;
    const char* path;
    bool chosen;
    bool excluded;
  } cases[] = {
      {"doc", "doc", true, true},
      {"doc/", "doc/a/b.txt", true, true},  // a folder takes what is inside it
      {"doc/a", "doc/ab.txt", false, false},
      {"doc/*.txt", "doc/a/b.txt", true, true},
      {"a", "doc/a/b.txt", false, true},  // relative to the source, and any component
      {"a/b.txt", "doc/a/b.txt", false, true},
      {"*.o", "src/x/y.o", true, true},
      {"b.txt", "doc/a/b.txt", false, true},
      {"x/b.txt", "doc/a/b.txt", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChoosesPath(Text(c.pattern), Text(c.path)), c.chosen) << c.pattern << " " << c.path;
    EXPECT_EQ(ExcludesPath(Text(c.pattern), Text(c.path)), c.excluded) << c.pattern << " " << c.path;
  }
}

TEST(Pattern, LinesOfAFile) {
  std::vector<Text> lines = PatternLines(Text("*.o\r\n\nbuild/\nlast"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_STREQ(lines[0].Str(), "*.o");
  EXPECT_STREQ(lines[1].Str(), "build/");
  EXPECT_STREQ(lines[2].Str(), "last");
}

}  // namespace
}  // namespace qef
