#include "fs/walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

using test::TempDir;
using test::WriteFileBytes;

int32_t Record(const Text& base, const Text& relative, const Text& name, int32_t is_folder, uintptr_t user1,
               uintptr_t user2) {
  auto* seen = reinterpret_cast<std::vector<std::string>*>(user1);
  seen->push_back(std::string(is_folder ? "D " : "F ") + relative.Str() + name.Str());
  return static_cast<int32_t>(user2);
}

TEST(WalkFolder, ReportsFilesAndFoldersAfterTheirContent) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("w/s/t/")), 0);
  WriteFileBytes(dir.Sub("w/a.txt"), "a");
  WriteFileBytes(dir.Sub("w/s/b.txt"), "b");
  std::vector<std::string> seen;
  ASSERT_EQ(WalkFolder(dir.Sub("w/"), Text(""), &Record, reinterpret_cast<uintptr_t>(&seen), 0), 0);
  std::set<std::string> got(seen.begin(), seen.end());
  EXPECT_EQ(got, (std::set<std::string>{"F a.txt", "F s/b.txt", "D s/t/", "D s/"}));
  auto pos = [&](const char* e) { return std::find(seen.begin(), seen.end(), e) - seen.begin(); };
  EXPECT_LT(pos("F s/b.txt"), pos("D s/"));
  EXPECT_LT(pos("D s/t/"), pos("D s/"));

  seen.clear();
  EXPECT_EQ(WalkFolder(dir.Sub("w/"), Text(""), &Record, reinterpret_cast<uintptr_t>(&seen), kCancelled), kCancelled);
  EXPECT_EQ(seen.size(), 1u);  // the first answer ends the walk
  EXPECT_EQ(WalkFolder(dir.Sub("w/"), Text(""), nullptr, 0, 0), kBadArgument);
  EXPECT_EQ(WalkFolder(dir.Sub("w"), Text(""), &Record, reinterpret_cast<uintptr_t>(&seen), 0), kFolderMissing);
}

TEST(DeleteFolderTree, RemovesEverythingOrStopsAtTheFirstFailure) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("d/s/empty/")), 0);
  WriteFileBytes(dir.Sub("d/a.txt"), "a");
  WriteFileBytes(dir.Sub("d/s/b.txt"), "b");
  EXPECT_EQ(DeleteFolderTree(dir.Sub("d")), kFolderMissing);  // needs its trailing '/'
  EXPECT_TRUE(FolderExists(dir.Sub("d/")));
  EXPECT_EQ(DeleteFolderTree(dir.Sub("d/")), 0);
  EXPECT_FALSE(FolderExists(dir.Sub("d/")));
  EXPECT_EQ(DeleteFolderTree(dir.Sub("missing/")), kFolderMissing);

  ASSERT_EQ(CreateFolder(dir.Sub("e/")), 0);
  EXPECT_EQ(DeleteFolderTree(dir.Sub("e/")), 0);  // an empty folder

  if (kNativeStyle == PathStyle::kWindows) {
    // A read-only file cannot be deleted on Windows: the walk stops there.
    ASSERT_EQ(CreateFolder(dir.Sub("r/")), 0);
    WriteFileBytes(dir.Sub("r/locked.txt"), "x");
    FileInfo ro;
    ro.attributes = kAttrReadOnly;
    ApplyFileInformation(dir.Sub("r/locked.txt"), ro);
    EXPECT_EQ(DeleteFolderTree(dir.Sub("r/")), kCannotDeleteFile);
    EXPECT_TRUE(FolderExists(dir.Sub("r/")));
    ApplyFileInformation(dir.Sub("r/locked.txt"), FileInfo());
  }
}

}  // namespace
}  // namespace qef
