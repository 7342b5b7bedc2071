#include <gtest/gtest.h>

#include <string>

#include "core/result.h"
#include "fs/path.h"
#include "tests/fixtures/hostile_names.h"

namespace qef {
namespace {

TEST(CheckItemName, HostileNameCorpus) {
  EXPECT_GE(sizeof(test::kHostileNames) / sizeof(test::kHostileNames[0]), 40u);
  for (const test::HostileName& c : test::kHostileNames) {
    EXPECT_EQ(CheckItemName(c.folder, c.name, PathStyle::kWindows), c.refused_windows ? kUnsafeName : 0)
        << "windows: [" << c.folder << "][" << c.name << "]";
    EXPECT_EQ(CheckItemName(c.folder, c.name, PathStyle::kPosix), c.refused_posix ? kUnsafeName : 0)
        << "posix: [" << c.folder << "][" << c.name << "]";
  }
}

// A folder item needs no name of its own: its folder part names it, or with both
// empty it is the folder joined to. The rest of the check is the same as for files.
TEST(CheckItemName, FolderItems) {
  struct Case {
    const char* folder;
    const char* name;
    bool refused;
  } cases[] = {
      {"", "", false},     {"x/", "", false},  {"./", "", false}, {"", ".", false},
      {"d/./", "", false}, {"../", "", true},  {"/", "", true},   {"x/../../", "", true},
      {"c:/", "", true},   {"aux/", "", true}, {"", "..", true},  {"\\\\server\\", "", true},
  };
  for (const Case& c : cases) {
    for (PathStyle style : {PathStyle::kWindows, PathStyle::kPosix}) {
      EXPECT_EQ(CheckItemName(c.folder, c.name, style, true), c.refused ? kUnsafeName : 0)
          << "[" << c.folder << "][" << c.name << "]";
    }
    if (*c.name == 0) {
      EXPECT_EQ(CheckItemName(c.folder, c.name, PathStyle::kPosix), kUnsafeName) << "a file item";
    }
  }
}

TEST(CheckItemName, LongNamesAreLeftToTheFileSystem) {
  // Length limits are the file system's to enforce; they never lead outside.
  std::string component(256, 'a');
  EXPECT_EQ(CheckItemName("", component.c_str(), PathStyle::kWindows), 0);
  std::string deep;
  for (int i = 0; i < 30; ++i) deep += "folder/";
  EXPECT_EQ(CheckItemName(deep.c_str(), "x", PathStyle::kPosix), 0);
}

}  // namespace
}  // namespace qef
