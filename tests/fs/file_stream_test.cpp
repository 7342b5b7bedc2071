#include "fs/file_stream.h"

#include <gtest/gtest.h>

#include "core/result.h"
#include "fs/fs.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

using test::ReadFileBytes;
using test::TempDir;

TEST(FileStream, WritesIntoAnExistingFolderOnlyThenReadsBack) {
  TempDir dir;
  Text path = dir.Sub("x/y/z/data.bin");
  FileStream out;
  // Opening for writing makes no folder as a side effect.
  EXPECT_EQ(out.Open(kModeWriting, path, nullptr), kCannotOpen);
  EXPECT_FALSE(FolderExists(dir.Sub("x/")));
  ASSERT_EQ(CreateFolder(dir.Sub("x/y/z/")), 0);
  ASSERT_EQ(out.Open(kModeWriting, path, nullptr), 0);
  EXPECT_EQ(out.Write("hello", 5), 0);
  EXPECT_EQ(out.WriteU32(0x01020304), 0);
  out.Close();
  EXPECT_EQ(ReadFileBytes(path), std::string("hello\x04\x03\x02\x01", 9));

  FileStream in;
  ASSERT_EQ(in.Open(kModeReading, path, nullptr), 0);
  char buf[16] = {};
  EXPECT_EQ(in.Read(buf, 0), 0);  // nothing happens
  EXPECT_EQ(in.Read(buf, 5), 0);
  uint32_t v = 0;
  EXPECT_EQ(in.ReadU32(v), 0);
  EXPECT_EQ(v, 0x01020304u);
  EXPECT_EQ(in.Read(buf, 1), kShortRead);  // past the end
  EXPECT_EQ(in.Read(buf, 1), kShortRead);  // and sticky
  EXPECT_EQ(in.GetTotal(), 10u);
  in.Close();
  EXPECT_EQ(in.Read(buf, 0), kWrongDirection);  // closed: against the direction
}

TEST(FileStream, OpenFailures) {
  TempDir dir;
  FileStream s;
  EXPECT_EQ(s.Open(kModeReading, dir.Sub("missing"), nullptr), kCannotOpen);
  EXPECT_EQ(s.GetMode(), kModeClosed);
  EXPECT_EQ(s.Open(3, dir.Sub("missing"), nullptr), kWrongDirection);
  EXPECT_EQ(s.Open(kModeWriting, dir.Path(), nullptr), kCannotOpen);  // a folder
  char b = 0;
  EXPECT_EQ(s.Read(&b, 0), kWrongDirection);
}

}  // namespace
}  // namespace qef
