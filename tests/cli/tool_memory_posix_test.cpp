// The tool's own handling of a password (its file, the code page conversion, the
// commands that pack and extract) leaves no copy of it in memory once a run is over.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cli/tool.h"
#include "core/heap.h"
#include "fs/fs.h"
#include "tests/support/memory_scan_posix.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

TEST(ToolPasswordHygiene, NoCopyAfterPackAndExtract) {
  if (test::kUnderAddressSanitizer) GTEST_SKIP() << "not meaningful under AddressSanitizer";
  // Built at run time, so that no literal holds it; written to a password file.
  char secret[32];
  for (int i = 0; i < 26; ++i) secret[i] = static_cast<char>('a' + (i * 11) % 26);
  secret[26] = 0;
  unsigned char needle[26];
  std::memcpy(needle, secret, sizeof needle);
  test::TempDir dir;
  {
    std::string line(secret);
    line += "\n";
    ASSERT_TRUE(test::WriteFileBytes(dir.Sub("password.txt"), line));
    SecureWipe(&line[0], line.size());
  }
  SecureWipe(secret, sizeof secret);
  ASSERT_TRUE(test::WriteFileBytes(dir.Sub("a.txt"), std::string(100000, 'a')));
  {
    PackRequest pack;
    pack.sources.push_back(dir.Sub("a.txt"));
    pack.output = dir.Sub("c.qef");
    pack.common.password_file = dir.Sub("password.txt");
    pack.common.quiet = true;
    ASSERT_EQ(RunPack(pack), kExitOk);
    ReadRequest read;
    read.archive = dir.Sub("c.qef");
    read.common = pack.common;
    ASSERT_EQ(RunExtract(read, dir.Sub("out/"), false), kExitOk);
    ASSERT_EQ(RunTest(read), kExitOk);
  }
  ASSERT_EQ(RemoveFile(dir.Sub("password.txt")), 0);
  std::vector<uintptr_t> copies = test::FindInMemory(needle, sizeof needle);
  EXPECT_TRUE(copies.empty()) << copies.size() << " copies, the first at 0x" << std::hex << copies[0];
}

}  // namespace
}  // namespace qef
