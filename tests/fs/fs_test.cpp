#include "fs/fs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/result.h"
#include "fs/filetime.h"
#include "fs/path.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

namespace qef {
namespace {

using test::TempDir;
using test::WriteFileBytes;

const bool kWindows = kNativeStyle == PathStyle::kWindows;

FileInfo Times(uint64_t created, uint64_t accessed, uint64_t written, uint32_t attributes) {
  FileInfo info;
  info.attributes = attributes;
  info.created = created;
  info.accessed = accessed;
  info.written = written;
  info.has_created = info.has_accessed = info.has_written = true;
  return info;
}

TEST(FileTime, ExactConversion) {
  struct Case {
    int64_t sec, nsec;
    uint64_t ft;
  } cases[] = {
      {0, 0, 116444736000000000ULL},
      {1, 100, 116444736010000001ULL},
      {-1, 999999900, 116444735999999999ULL},
      {1700000000, 123456700, 133444736001234567ULL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileTimeFromUnix(c.sec, c.nsec), c.ft);
    int64_t s = 0, n = 0;
    UnixFromFileTime(c.ft, s, n);
    EXPECT_EQ(s, c.sec);
    EXPECT_EQ(n, c.nsec);
  }
  unsigned char b[8];
  PutFileTimeBytes(0x0102030405060708ULL, b);
  EXPECT_EQ(b[0], 0x08);
  EXPECT_EQ(GetFileTimeBytes(b), 0x0102030405060708ULL);
}

TEST(FsOps, ExistenceAndSize) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("sub/")), 0);
  ASSERT_TRUE(WriteFileBytes(dir.Sub("empty"), ""));
  ASSERT_TRUE(WriteFileBytes(dir.Sub("five"), "12345"));
  struct Case {
    const char* rel;
    bool file, folder;
    int64_t size;
  } cases[] = {
      {"sub", false, false, -1},  // a folder path needs its trailing '/'
      {"sub/", false, true, -1},      {"empty", true, false, 0}, {"five", true, false, 5},
      {"fiv?", false, false, -1},     {"*", false, false, -1},   {"missing", false, false, -1},
      {"missing/", false, false, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileExists(dir.Sub(c.rel)), c.file) << c.rel;
    EXPECT_EQ(FolderExists(dir.Sub(c.rel)), c.folder) << c.rel;
    EXPECT_EQ(FileSize(dir.Sub(c.rel)), c.size) << c.rel;
  }
  // A root answers by drive type on Windows and by a directory test elsewhere.
  EXPECT_TRUE(FolderExists(kWindows ? "C:/" : "/"));
  if (kWindows) {
    EXPECT_FALSE(FolderExists("Q:/"));
  }
}

// Where a path leads is answered at any depth: a plain file leads to itself. Wine
// answers no final path past 260 characters (ERROR_MORE_DATA whatever the buffer), so
// there the deep row is left out.
TEST(FsOps, ResolvedPathReachesAnyDepth) {
  TempDir dir;
  std::vector<std::string> rows = {"near.txt"};
  if (!kWindows) rows.push_back(test::Chain(6, 60, "level") + "deep.txt");
  for (const std::string& below : rows) {
    test::WriteDeep(dir.Sub(below.c_str()), "x", FileInfo());
    std::string resolved = ResolvedPath(dir.Sub(below.c_str())).Str();
    ASSERT_GE(resolved.size(), below.size()) << below;
    EXPECT_EQ(resolved.substr(resolved.size() - below.size()), below);
  }
}

TEST(FsOps, CreateFolder) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.Sub("file"), "x"));
  struct Case {
    std::string path;
    int32_t result;
    bool exists_after;
  } cases[] = {
      {std::string(dir.Sub("a/b/c/").Str()), 0, true},
      {std::string(dir.Sub("a/b/c/").Str()), 0, true},  // existing: nothing changes
      {std::string(dir.Sub("noslash").Str()), kBadArgument, false},
      {kWindows ? "D:/" : "/", kBadArgument, true},
      {kWindows ? "C:/a" : "/a", kBadArgument, false},
      {std::string(dir.Sub("file/sub/").Str()), kCannotCreateParent, false},
      {std::string(dir.Sub("file/").Str()), kFailed, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CreateFolder(c.path.c_str()), c.result) << c.path;
    if (c.path != (kWindows ? "D:/" : "/")) {
      EXPECT_EQ(FolderExists(AddTrailingSeparator(c.path.c_str())), c.exists_after) << c.path;
    }
  }
  if (kWindows) {
    EXPECT_EQ(CreateFolder("Q:/a/b/"), kCannotCreateParent);  // a drive that does not exist
  }
}

TEST(FsOps, RemoveAndUnique) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("docs/")), 0);
  ASSERT_TRUE(WriteFileBytes(dir.Sub("docs/f"), "x"));
  EXPECT_EQ(RemoveFolder(dir.Sub("docs/")), kCannotRemoveFolder);
  EXPECT_STREQ(UniqueFolderName(dir.Sub("docs/")).Str(), dir.Sub("docs (1)/").Str());
  ASSERT_EQ(CreateFolder(dir.Sub("docs (1)/")), 0);
  EXPECT_STREQ(UniqueFolderName(dir.Sub("docs/")).Str(), dir.Sub("docs (2)/").Str());
  EXPECT_STREQ(UniqueFolderName(dir.Sub("other/")).Str(), dir.Sub("other/").Str());
  EXPECT_STREQ(UniqueFolderName(dir.Sub("docs")).Str(), dir.Sub("docs").Str());  // no '/': never found
  EXPECT_EQ(RemoveFile(dir.Sub("docs/f")), 0);
  EXPECT_EQ(RemoveFile(dir.Sub("docs/f")), kCannotDeleteFile);
  EXPECT_EQ(RemoveFolder(dir.Sub("docs/")), 0);
  EXPECT_FALSE(FolderExists(dir.Sub("docs/")));
}

TEST(FsOps, ApplyAndCollectFileInformation) {
  TempDir dir;
  // Long paths (over 200 characters) keep their times too.
  std::string deep(60, 'd');
  Text folder = dir.Sub((deep + "/" + deep + "/" + deep + "/").c_str());
  ASSERT_EQ(CreateFolder(folder), 0);
  Text files[] = {dir.Sub("plain.txt"), Text::Concat(folder, "long-name.txt")};
  ASSERT_GT(files[1].GetLength(), 200);
  const uint64_t created = FileTimeFromUnix(1000000000, 0);
  const uint64_t accessed = FileTimeFromUnix(1200000000, 500);
  const uint64_t written = FileTimeFromUnix(1100000000, 123456700);
  for (const Text& path : files) {
    ASSERT_TRUE(WriteFileBytes(path, "data"));
    // Read-only and times together: the times must still be set.
    ASSERT_EQ(ApplyFileInformation(path, Times(created, accessed, written, kAttrReadOnly)), 0) << path.Str();
    FileInfo got;
    ASSERT_EQ(CollectFileInformation(path, got), 0);
    EXPECT_EQ(got.attributes & kAttrReadOnly, kAttrReadOnly) << path.Str();
    EXPECT_TRUE(got.has_written && got.has_accessed && got.has_created);
    EXPECT_EQ(got.written, written) << path.Str();
    EXPECT_EQ(got.accessed, accessed) << path.Str();

    // Nothing present: all attributes off, times unchanged.
    ASSERT_EQ(ApplyFileInformation(path, FileInfo()), 0);
    FileInfo cleared;
    CollectFileInformation(path, cleared);
    EXPECT_EQ(cleared.attributes & kAttrReadOnly, 0u);
    EXPECT_EQ(cleared.written, written);
  }

  // A time that is not present stays; the others are still set.
  FileInfo only_written;
  only_written.has_written = true;
  only_written.written = accessed;
  EXPECT_EQ(ApplyFileInformation(files[0], only_written), 0);
  FileInfo got;
  CollectFileInformation(files[0], got);
  EXPECT_EQ(got.written, accessed);
  EXPECT_EQ(got.accessed, accessed);
  EXPECT_NE(got.created, 0u);

  EXPECT_EQ(ApplyFileInformation(dir.Sub("missing"), FileInfo()), kFailed);
  EXPECT_EQ(ApplyFileInformation(dir.Sub("missing/"), FileInfo()), kFailed);
  EXPECT_EQ(ApplyFileInformation(folder, FileInfo()), 0);
  FileInfo folder_info;
  EXPECT_EQ(CollectFileInformation(folder, folder_info), 0);
  EXPECT_EQ(CollectFileInformation(dir.Sub("missing"), folder_info), kFailed);
}

TEST(FsOps, FolderSearch) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("s/")), 0);
  ASSERT_TRUE(WriteFileBytes(dir.Sub("a.txt"), "a"));
  FolderSearch search;
  ASSERT_TRUE(search.Open(dir.Path()));
  Text name;
  bool is_folder = false, is_link = false;
  int files = 0, folders = 0;
  while (search.Next(name, is_folder, is_link)) {
    EXPECT_FALSE(is_link);
    if (is_folder) {
      EXPECT_STREQ(name.Str(), "s");
      ++folders;
    } else {
      EXPECT_STREQ(name.Str(), "a.txt");
      ++files;
    }
  }
  EXPECT_EQ(files, 1);
  EXPECT_EQ(folders, 1);
  EXPECT_FALSE(search.Open(dir.Sub("missing/")));
}

}  // namespace
}  // namespace qef

namespace qef {
namespace {

TEST(NewFile, CreatesOnlyNewFilesAndFinishesWithTimesAndAttributes) {
  test::TempDir dir;
  Text path = dir.Sub("new.bin");
  NewFile f;
  bool exists = true;
  ASSERT_EQ(f.Create(path, exists), 0);
  EXPECT_FALSE(exists);
  EXPECT_EQ(f.Write("hello", 5), 0);
  const uint64_t written = FileTimeFromUnix(1300000000, 500);
  FileInfo info = Times(0, written, written, kAttrReadOnly);
  info.has_created = false;
  ASSERT_EQ(f.Finish(info), 0);
  EXPECT_EQ(test::ReadFileBytes(path), "hello");
  FileInfo got;
  ASSERT_EQ(CollectFileInformation(path, got), 0);
  EXPECT_EQ(got.written, written);
  EXPECT_EQ(got.attributes & kAttrReadOnly, kAttrReadOnly);

  NewFile again;
  EXPECT_EQ(again.Create(path, exists), kCannotOpen);
  EXPECT_TRUE(exists) << "a file has the name";
  ASSERT_EQ(CreateFolder(dir.Sub("folder/")), 0);
  EXPECT_EQ(again.Create(dir.Sub("folder"), exists), kCannotOpen);
  EXPECT_TRUE(exists) << "a folder has the name";
  EXPECT_EQ(again.Create(dir.Sub("missing/x"), exists), kCannotOpen);
  EXPECT_FALSE(exists);
  ApplyFileInformation(path, FileInfo());
}

}  // namespace
}  // namespace qef

namespace qef {
namespace {

TEST(Folder, NamesAreUsedInsideTheHeldFolderAndNeverThroughALink) {
  test::TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("root/sub/")), 0);
  ASSERT_TRUE(test::WriteFileBytes(dir.Sub("root/file"), "f"));
  ASSERT_TRUE(test::WriteFileBytes(dir.Sub("root/sub/inner"), "i"));
  if (!kWindows) std::filesystem::create_directory_symlink(dir.Sub("root/sub").Str(), dir.Sub("root/link").Str());
  Folder root;
  ASSERT_EQ(root.Open(dir.Sub("root/")), 0);
  EXPECT_EQ(Folder().Open(dir.Sub("missing/")), kTargetMissing);
  struct Case {
    const char* name;
    EntryInfo::Kind kind;
    int32_t open;
  } cases[] = {{"sub", EntryInfo::kFolder, 0},
               {"file", EntryInfo::kFile, kCannotOpen},
               {"missing", EntryInfo::kMissing, kFolderMissing},
               {"link", kWindows ? EntryInfo::kMissing : EntryInfo::kLink, kWindows ? kFolderMissing : kUnsafeName}};
  for (const Case& c : cases) {
    Folder child;
    EXPECT_EQ(root.Inspect(c.name).kind, c.kind) << c.name;
    EXPECT_EQ(child.OpenIn(root, c.name), c.open) << c.name;
  }
  Folder sub;
  ASSERT_EQ(sub.OpenIn(root, "sub"), 0);
  EXPECT_EQ(sub.Id(), root.Inspect("sub").id);
  EXPECT_NE(sub.Id(), root.Id());

  // Renaming never replaces, and removing asks for the identity of what it removes.
  EXPECT_FALSE(root.Rename("file", "sub"));
  EXPECT_TRUE(root.Rename("file", "file2"));
  EntryInfo file = root.Inspect("file2");
  // The folder's own spelling of a name: where case is not told apart, another
  // spelling finds the entry and is answered with the entry's name.
  bool folds = root.Inspect("FILE2").kind != EntryInfo::kMissing;
  EXPECT_STREQ(root.SpelledName("FILE2").Str(), folds ? "file2" : "FILE2");
  EXPECT_STREQ(root.SpelledName("nothing").Str(), "nothing");
  EXPECT_EQ(root.Remove("file2", sub.Id()), kCannotDeleteFile);
  EXPECT_EQ(root.Remove("sub", sub.Id()), kCannotDeleteFile) << "a folder that is not empty";
  EXPECT_EQ(root.Remove("file2", file.id), 0);
  EXPECT_EQ(root.Inspect("file2").kind, EntryInfo::kMissing);

  // What is made through a held folder lands in it, under whatever name it has now;
  // on Windows a held folder keeps its name.
  bool renamed = RenameFile(dir.Sub("root/sub"), dir.Sub("root/moved"));
  EXPECT_EQ(renamed, !kWindows);
  NewFile f;
  bool exists = false;
  ASSERT_EQ(f.Create(sub, "x", exists), 0);
  EXPECT_EQ(f.Id(), sub.Inspect("x").id);
  ASSERT_EQ(f.Close(), 0);
  EXPECT_TRUE(FileExists(dir.Sub(renamed ? "root/moved/x" : "root/sub/x")));
  FileInfo ro;
  ro.attributes = kAttrReadOnly;
  ASSERT_EQ(ApplyFileInformation(dir.Sub(renamed ? "root/moved/x" : "root/sub/x"), ro), 0);
  EXPECT_TRUE(sub.Inspect("x").read_only);
  EXPECT_EQ(sub.Remove("x", f.Id()), 0) << "a read-only file too";
  EXPECT_TRUE(sub.MakeFolder("made"));
  EXPECT_FALSE(sub.MakeFolder("made"));
  EXPECT_EQ(sub.Remove("made", sub.Inspect("made").id), 0);
}

}  // namespace
}  // namespace qef
