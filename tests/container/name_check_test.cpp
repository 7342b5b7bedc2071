#include <gtest/gtest.h>

#include "core/result.h"
#include "fs/path.h"

namespace qef {
namespace {

const PathStyle W = PathStyle::kWindows;
const PathStyle P = PathStyle::kPosix;

TEST(CheckItemName, Table) {
  struct Case {
    const char* folder;
    const char* name;
    int32_t windows;  // expected with the Windows rules
    int32_t posix;    // expected with the POSIX rules
  } cases[] = {
      {"", "a.txt", 0, 0},
      {"sub/", "a.txt", 0, 0},
      {"sub\\deeper\\", "a.txt", 0, 0},
      {"a//b/", "c", 0, 0},
      {"", "..", kUnsafeName, kUnsafeName},
      {"", ".", kUnsafeName, kUnsafeName},
      {"", "...", kUnsafeName, kUnsafeName},
      {"", ". .", kUnsafeName, kUnsafeName},
      {"a/../../", "x", kUnsafeName, kUnsafeName},
      {"safe/..\\..\\", "x", kUnsafeName, kUnsafeName},
      {"", "safe/..\\..\\x", kUnsafeName, kUnsafeName},
      {"/", "x", kUnsafeName, kUnsafeName},
      {"", "/x", kUnsafeName, kUnsafeName},
      {"", "//x", kUnsafeName, kUnsafeName},
      {"", "C:\\x", kUnsafeName, kUnsafeName},
      {"", "C:x", kUnsafeName, kUnsafeName},
      {"c:/", "x", kUnsafeName, kUnsafeName},
      {"", "\\\\server\\share\\x", kUnsafeName, kUnsafeName},
      {"", "\\\\?\\C:\\x", kUnsafeName, kUnsafeName},
      {"", "\\\\.\\x", kUnsafeName, kUnsafeName},
      {"", "\\??\\C:\\x", kUnsafeName, kUnsafeName},
      {"", "a:stream", kUnsafeName, kUnsafeName},  // the shape of a drive-relative path
      {"", "ab:stream", kUnsafeName, 0},
      {"", "file::$DATA", kUnsafeName, 0},
      {"dir:x/", "a", kUnsafeName, 0},
      {"", "", kUnsafeName, kUnsafeName},
      {"sub/", "", kUnsafeName, kUnsafeName},
      {"", "CON", kUnsafeName, kUnsafeName},
      {"", "con", kUnsafeName, kUnsafeName},
      {"", "nul.txt", kUnsafeName, kUnsafeName},
      {"", "COM1 ", kUnsafeName, kUnsafeName},
      {"", "com9.tar.gz", kUnsafeName, kUnsafeName},
      {"", "LPT0", kUnsafeName, kUnsafeName},
      {"", "lpt\xB9", kUnsafeName, kUnsafeName},
      {"", "CONIN$", kUnsafeName, kUnsafeName},
      {"", "conout$.log", kUnsafeName, kUnsafeName},
      {"aux/", "x", kUnsafeName, kUnsafeName},
      {"", "CONSOLE", 0, 0},
      {"", "COM10", 0, 0},
      {"", "a\x01" "b", kUnsafeName, kUnsafeName},
      {"", "tab\there", kUnsafeName, kUnsafeName},
      {"", "..name", 0, 0},
      {"", "name..", 0, 0},
      {"", ".profile", 0, 0},
      {"", "\xC4rger.txt", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckItemName(c.folder, c.name, W), c.windows) << "windows: [" << c.folder << "][" << c.name << "]";
    EXPECT_EQ(CheckItemName(c.folder, c.name, P), c.posix) << "posix: [" << c.folder << "][" << c.name << "]";
  }
}

}  // namespace
}  // namespace qef
