#include "fs/temp_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/result.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

int CountEntries(const Text& folder) {
  int n = 0;
  for (auto it = std::filesystem::directory_iterator(folder.Str()); it != std::filesystem::directory_iterator(); ++it)
    ++n;
  return n;
}

TEST(TemporaryNames, OneRandomPartPerSourceAndACount) {
  TemporaryNames a, b;
  std::string first = a.Next().Str(), second = a.Next().Str(), other = b.Next().Str();
  ASSERT_EQ(first.size(), std::string("~qef-0123456789abcdef-0.tmp").size()) << first;
  EXPECT_EQ(first.rfind("~qef-", 0), 0u);
  EXPECT_EQ(first.find_first_not_of("0123456789abcdef", 5), 21u) << first;
  EXPECT_EQ(second, first.substr(0, 22) + "1.tmp");
  EXPECT_NE(other.substr(0, 22), first.substr(0, 22));
  EXPECT_STREQ(TemporaryNames("0123456789abcdef").Next().Str(), "~qef-0123456789abcdef-0.tmp");
}

TEST(TempFile, KeepReplacesTheDestinationInOneRenameAndLeavesNothingAside) {
  TempDir dir;
  WriteFileBytes(dir.Sub("out.bin"), "old");
  {
    TempFile file;
    ASSERT_EQ(file.Create(dir.Sub("out.bin")), kOk);
    std::string aside = file.Name().Str();
    EXPECT_EQ(aside.rfind(std::string(dir.Path().Str()) + "~qef-", 0), 0u) << aside;
    ASSERT_EQ(file.Write("new", 3), kOk);
    EXPECT_EQ(ReadFileBytes(dir.Sub("out.bin")), "old");  // untouched until kept
    ASSERT_EQ(file.Keep(), kOk);
    EXPECT_TRUE(file.Name().IsEmpty());
  }
  EXPECT_EQ(ReadFileBytes(dir.Sub("out.bin")), "new");
  EXPECT_EQ(CountEntries(dir.Path()), 1);

  // A missing folder of the destination is made; nothing is left when not kept.
  {
    TempFile file;
    ASSERT_EQ(file.Create(dir.Sub("sub/deeper/x.bin")), kOk);
    ASSERT_EQ(file.Write("x", 1), kOk);
  }
  EXPECT_EQ(CountEntries(dir.Sub("sub/deeper/")), 0);
  TempFile discarded;
  ASSERT_EQ(discarded.Create(dir.Sub("out.bin")), kOk);
  ASSERT_EQ(discarded.Write("gone", 4), kOk);
  discarded.Discard();
  EXPECT_EQ(ReadFileBytes(dir.Sub("out.bin")), "new");
  EXPECT_EQ(CountEntries(dir.Path()), 2);  // out.bin and sub/
}

// Whatever already has one of the names, a file or a link, is passed over and left as
// it was; the file is made under the next free name.
TEST(TempFile, NamesTakenBeforehandArePassedOverNeverWrittenThrough) {
  TempDir dir;
  WriteFileBytes(dir.Sub("victim"), "untouched");
  WriteFileBytes(dir.Sub("~qef-0123456789abcdef-0.tmp"), "planted");
#ifndef _WIN32
  std::filesystem::create_symlink(dir.Sub("victim").Str(), dir.Sub("~qef-0123456789abcdef-1.tmp").Str());
  const char* expected = "~qef-0123456789abcdef-2.tmp";
#else
  const char* expected = "~qef-0123456789abcdef-1.tmp";
#endif
  TemporaryNames names("0123456789abcdef");
  TempFile file;
  ASSERT_EQ(file.Create(dir.Sub("out.bin"), names), kOk);
  EXPECT_STREQ(file.Name().Str(), dir.Sub(expected).Str());
  ASSERT_EQ(file.Write("data", 4), kOk);
  ASSERT_EQ(file.Keep(), kOk);
  EXPECT_EQ(ReadFileBytes(dir.Sub("out.bin")), "data");
  EXPECT_EQ(ReadFileBytes(dir.Sub("victim")), "untouched");
  EXPECT_EQ(ReadFileBytes(dir.Sub("~qef-0123456789abcdef-0.tmp")), "planted");
}

TEST(TemporaryName, KnowsOnlyTheNamesRunsWriteAsideUnder) {
  struct Case {
    const char* name;
    bool temporary;
  } cases[] = {
      {"~qef-0123456789abcdef-0.tmp", true},
      {"~qef-0123456789abcdef-1234.tmp", true},
      {"~qef-0123456789abcdef-.tmp", false},
      {"~qef--3.tmp", false},
      {"~qef-0123456789abcdeF-1.tmp", false},
      {"~qef-0123456789abcde-1.tmp", false},
      {"~qef-0123456789abcde-12.tmp", false},  // 15 digits, at the length of a real name
      {"~qef-0123456789abcdef-x.tmp", false},
      {"~qef-0123456789abcdef-1.tmp.txt", false},
      {"~qef-notes.tmp", false},
      {"report.tmp", false},
      {"~qef", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsTemporaryName(Text(c.name)), c.temporary) << c.name;
  TemporaryNames names;
  EXPECT_TRUE(IsTemporaryName(names.Next()));
}

TEST(TemporaryName, FilesAreFoundInOneFolderOnly) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("sub/")), 0);
  ASSERT_EQ(CreateFolder(dir.Sub("~qef-0123456789abcdef-2.tmp/")), 0);  // found only as a folder
  for (const char* name :
       {"~qef-0123456789abcdef-1.tmp", "~qef-00000000000000ff-0.tmp", "keep.txt", "sub/~qef-0123456789abcdef-3.tmp"})
    ASSERT_TRUE(WriteFileBytes(dir.Sub(name), "x"));
  std::vector<Text> folders;
  std::vector<Text> found = FindTemporaryFiles(dir.Path(), &folders);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_STREQ(found[0].Str(), "~qef-00000000000000ff-0.tmp");
  EXPECT_STREQ(found[1].Str(), "~qef-0123456789abcdef-1.tmp");
  EXPECT_TRUE(FindTemporaryFiles(dir.Sub("missing/")).empty());
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_STREQ(folders[0].Str(), "~qef-0123456789abcdef-2.tmp");
}

}  // namespace
}  // namespace qef
