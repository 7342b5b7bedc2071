#include "fs/fs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/result.h"
#include "fs/filetime.h"
#include "fs/path.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

using test::TempDir;
using test::WriteFileBytes;

const bool kWindows = kNativeStyle == PathStyle::kWindows;

Value TimeValue(uint64_t filetime, int bytes = 8) {
  unsigned char b[8];
  PutFileTimeBytes(filetime, b);
  Value v;
  v.SetBlob(b, bytes);
  return v;
}

uint64_t TimeOf(const PropertyList& list, uint16_t key) {
  Value v = list.GetValue(key);
  return v.IsBlobOf(8) ? GetFileTimeBytes(v.GetBytes()) : 0;
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
    PropertyList info;
    info.PutValue(kInfoCreated, TimeValue(created), 1);
    info.PutValue(kInfoAccessed, TimeValue(accessed), 1);
    info.PutValue(kInfoWritten, TimeValue(written), 1);
    info.PutByte(kInfoReadOnly, 1, 1);
    // Read-only and times together: the times must still be set.
    ASSERT_EQ(ApplyFileInformation(path, &info), 0) << path.Str();
    PropertyList got;
    ASSERT_EQ(CollectFileInformation(path, got), 0);
    EXPECT_EQ(got.GetByte(kInfoReadOnly, 0), 1) << path.Str();
    EXPECT_EQ(TimeOf(got, kInfoWritten), written) << path.Str();
    EXPECT_EQ(TimeOf(got, kInfoAccessed), accessed) << path.Str();

    // No list: all attributes off, times unchanged.
    ASSERT_EQ(ApplyFileInformation(path, nullptr), 0);
    PropertyList cleared;
    CollectFileInformation(path, cleared);
    EXPECT_EQ(cleared.GetByte(kInfoReadOnly, 0), 0);
    EXPECT_EQ(TimeOf(cleared, kInfoWritten), written);
  }

  // A 7-byte creation time is not a time: the others are still set.
  PropertyList seven;
  seven.PutValue(kInfoCreated, TimeValue(created, 7), 1);
  seven.PutValue(kInfoWritten, TimeValue(accessed), 1);
  EXPECT_EQ(ApplyFileInformation(files[0], &seven), 0);
  PropertyList got;
  CollectFileInformation(files[0], got);
  EXPECT_EQ(TimeOf(got, kInfoWritten), accessed);
  EXPECT_NE(TimeOf(got, kInfoCreated), 0u);

  EXPECT_EQ(ApplyFileInformation(dir.Sub("missing"), nullptr), kFailed);
  EXPECT_EQ(ApplyFileInformation(dir.Sub("missing/"), nullptr), kFailed);
  EXPECT_EQ(ApplyFileInformation(folder, nullptr), 0);
  PropertyList folder_info;
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
  PropertyList info;
  const uint64_t written = FileTimeFromUnix(1300000000, 500);
  info.PutValue(kInfoWritten, TimeValue(written), 1);
  info.PutValue(kInfoAccessed, TimeValue(written), 1);
  info.PutByte(kInfoReadOnly, 1, 1);
  ASSERT_EQ(f.Finish(&info), 0);
  EXPECT_EQ(test::ReadFileBytes(path), "hello");
  PropertyList got;
  ASSERT_EQ(CollectFileInformation(path, got), 0);
  EXPECT_EQ(TimeOf(got, kInfoWritten), written);
  EXPECT_EQ(got.GetByte(kInfoReadOnly, 0), 1);

  NewFile again;
  EXPECT_EQ(again.Create(path, exists), kCannotOpen);
  EXPECT_TRUE(exists) << "a file has the name";
  ASSERT_EQ(CreateFolder(dir.Sub("folder/")), 0);
  EXPECT_EQ(again.Create(dir.Sub("folder"), exists), kCannotOpen);
  EXPECT_TRUE(exists) << "a folder has the name";
  EXPECT_EQ(again.Create(dir.Sub("missing/x"), exists), kCannotOpen);
  EXPECT_FALSE(exists);
  ApplyFileInformation(path, nullptr);
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
  PropertyList ro;
  ro.PutByte(kInfoReadOnly, 1, 1);
  ASSERT_EQ(ApplyFileInformation(dir.Sub(renamed ? "root/moved/x" : "root/sub/x"), &ro), 0);
  EXPECT_TRUE(sub.Inspect("x").read_only);
  EXPECT_EQ(sub.Remove("x", f.Id()), 0) << "a read-only file too";
  EXPECT_TRUE(sub.MakeFolder("made"));
  EXPECT_FALSE(sub.MakeFolder("made"));
  EXPECT_EQ(sub.Remove("made", sub.Inspect("made").id), 0);
}

}  // namespace
}  // namespace qef
