#include "fs/path.h"

#include <gtest/gtest.h>

#include <string>

namespace qef {
namespace {

const PathStyle W = PathStyle::kWindows;
const PathStyle P = PathStyle::kPosix;

std::string S(const Text& t) { return t.Str(); }

TEST(PathRules, Forms) {
  struct Case {
    const char* in;
    PathStyle style;
    const char* internal;
    const char* system;
  } cases[] = {
      {"D:\\a\\b", W, "D:/a/b", "D:\\a\\b"},
      {"D:/a/b/", W, "D:/a/b/", "D:\\a\\b\\"},
      {"/home/a b/x\\y", P, "/home/a b/x\\y", "/home/a b/x\\y"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(S(ToInternalForm(c.in, c.style)), c.internal) << c.in;
    EXPECT_EQ(S(ToSystemForm(c.in, c.style)), c.system) << c.in;
  }
}

TEST(PathRules, Separators) {
  struct Case {
    const char* in;
    PathStyle style;
    const char* stripped;
    const char* added;
  } cases[] = {
      {"D:/", W, "D:/", "D:/"},
      {"/", W, "/", "/"},
      {"//", W, "/", "//"},
      {"D:/a/", W, "D:/a", "D:/a/"},
      {"a//", W, "a/", "a//"},
      {"", W, "", ""},
      {"D:", W, "D:", "D:/"},
      {"D:\\dir", W, "D:/dir", "D:/dir/"},
      {"/tmp/x/", P, "/tmp/x", "/tmp/x/"},
      {"/", P, "/", "/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(S(StripTrailingSeparator(c.in, c.style)), c.stripped) << c.in;
    EXPECT_EQ(S(AddTrailingSeparator(c.in, c.style)), c.added) << c.in;
  }
}

// Windows refuses seven characters in paths; on POSIX a path the user gives may hold
// them ('odd|dir', 'what?.qef').
TEST(PathRules, Validity) {
  struct Case {
    const char* text;
    PathStyle style;
    bool valid, file, folder;
  } cases[] = {
      {"", W, false, false, false},           {"D:\\dir", W, false, false, false}, {"D:/a*b", W, false, false, false},
      {"a?", W, false, false, false},         {"a<b", W, false, false, false},     {"a|b", W, false, false, false},
      {"a\"b", W, false, false, false},       {"a>b", W, false, false, false},     {"D:/a:b/", W, true, false, true},
      {"D:", W, true, false, false},          {"D:/dir/", W, true, false, true},   {"/", W, true, false, true},
      {"D:/dir/f.txt", W, true, true, false}, {"f", W, true, true, false},         {"", P, false, false, false},
      {"odd|dir/", P, true, false, true},     {"what?.qef", P, true, true, false}, {"a\\b*<c>\"", P, true, true, false},
      {"x:", P, true, true, false},           {"/", P, true, false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsValidPath(c.text, c.style), c.valid) << c.text;
    EXPECT_EQ(IsFilePath(c.text, c.style), c.file) << c.text;
    EXPECT_EQ(IsFolderPath(c.text, c.style), c.folder) << c.text;
  }
}

TEST(PathRules, Parts) {
  struct Case {
    const char* path;
    PathStyle style;
    const char* name;
    const char* title;
    const char* ext;
    const char* folder;
  } cases[] = {
      {"D:/dir/", W, "", "", "", "D:/dir/"},
      {"a.txt", W, "a.txt", "a", "txt", ""},
      {"D:/d/archive.tar.gz", W, "archive.tar.gz", "archive.tar", "gz", "D:/d/"},
      {"D:/d/.profile", W, ".profile", "", "profile", "D:/d/"},
      {"D:/d/a.QEF", W, "a.QEF", "a", "QEF", "D:/d/"},
      {"D:/d.x/file", W, "file", "file", "x/file", "D:/d.x/"},
      {"D:/d/name.", W, "name.", "name", "", "D:/d/"},
      {"D:\\Temp\\x.tmp", W, "x.tmp", "x", "tmp", "D:/Temp/"},
      {"D:/file", W, "file", "file", "", "D:/"},
      {"/file", W, "file", "file", "", ""},
      {"C:\\setup.exe", W, "setup.exe", "setup", "exe", "C:/"},
      {"/opt/a.b.exe", P, "a.b.exe", "a.b", "exe", "/opt/"},
      {"/opt\\x/y.z", P, "y.z", "y", "z", "/opt\\x/"},  // '\' is an ordinary character on POSIX
      {"./what?.qef", P, "what?.qef", "what?", "qef", "./"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(S(FileNameOf(c.path, c.style)), c.name) << c.path;
    EXPECT_EQ(S(TitleOf(c.path, c.style)), c.title) << c.path;
    EXPECT_EQ(S(ExtensionOf(c.path, c.style)), c.ext) << c.path;
    EXPECT_EQ(S(FolderOf(c.path, c.style)), c.folder) << c.path;
  }
}

// A taken name is numbered before a file's extension, after a folder's whole name.
TEST(PathRules, NumberedNames) {
  struct Case {
    const char* name;
    int32_t n;
    bool file;
    const char* numbered;
  } cases[] = {
      {"report.pdf", 0, true, "report.pdf"}, {"report.pdf", 1, true, "report (1).pdf"},
      {"a.tar.gz", 2, true, "a.tar (2).gz"}, {".profile", 1, true, ".profile (1)"},
      {"Makefile", 3, true, "Makefile (3)"}, {"doc.d", 1, false, "doc.d (1)"},
      {"doc", 12, false, "doc (12)"},
  };
  for (const Case& c : cases) EXPECT_EQ(S(NumberedName(c.name, c.n, c.file)), c.numbered) << c.name << " " << c.n;
}

TEST(PathRules, TooShortToCreate) {
  struct Case {
    const char* folder;
    PathStyle style;
    bool too_short;
  } cases[] = {
      {"D:/", W, true}, {"D:/a", W, true}, {"D:/a/", W, false}, {"ab/", W, true},
      {"/", P, true},   {"/a/", P, false}, {"ab/", P, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsTooShortToCreate(c.folder, c.style), c.too_short) << c.folder;
}

}  // namespace
}  // namespace qef
